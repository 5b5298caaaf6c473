// RAII guards for the Win32 resources the server touches. Each guard owns
// exactly one resource and releases it on every path out of a scope.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <utility>

namespace qb {

// A GlobalLock that is always paired with one GlobalUnlock. A failed lock
// leaves get() null and unlocks nothing.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
  ~GlobalLockGuard() {
    if (p_) GlobalUnlock(h_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  void* get() const { return p_; }
  unsigned char* bytes() const { return static_cast<unsigned char*>(p_); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  HGLOBAL h_;
  void* p_;
};

// Owns a global block until released; frees it with GlobalFree.
class UniqueHGlobal {
 public:
  UniqueHGlobal() = default;
  explicit UniqueHGlobal(HGLOBAL h) : h_(h) {}
  ~UniqueHGlobal() { reset(); }
  UniqueHGlobal(UniqueHGlobal&& o) noexcept : h_(o.release()) {}
  UniqueHGlobal& operator=(UniqueHGlobal&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  HGLOBAL get() const { return h_; }
  HGLOBAL release() { return std::exchange(h_, nullptr); }
  void reset(HGLOBAL h = nullptr) {
    if (h_) GlobalFree(h_);
    h_ = h;
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HGLOBAL h_ = nullptr;
};

class UniqueHKey {
 public:
  UniqueHKey() = default;
  explicit UniqueHKey(HKEY h) : h_(h) {}
  ~UniqueHKey() { reset(); }
  UniqueHKey(UniqueHKey&& o) noexcept : h_(o.release()) {}
  UniqueHKey& operator=(UniqueHKey&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  HKEY get() const { return h_; }
  HKEY* put() {
    reset();
    return &h_;
  }
  HKEY release() { return std::exchange(h_, nullptr); }
  void reset(HKEY h = nullptr) {
    if (h_) RegCloseKey(h_);
    h_ = h;
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HKEY h_ = nullptr;
};

// A BSTR the holder frees with SysFreeString.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
  ~UniqueBstr() { reset(); }
  UniqueBstr(UniqueBstr&& o) noexcept : s_(o.release()) {}
  UniqueBstr& operator=(UniqueBstr&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  BSTR get() const { return s_; }
  BSTR* put() {
    reset();
    return &s_;
  }
  BSTR release() { return std::exchange(s_, nullptr); }
  void reset(BSTR s = nullptr) {
    if (s_) SysFreeString(s_);
    s_ = s;
  }
  UINT length() const { return s_ ? SysStringLen(s_) : 0; }

 private:
  BSTR s_ = nullptr;
};

// A GDI object (bitmap, font, brush, palette) deleted with DeleteObject.
template <class T>
class UniqueGdi {
 public:
  UniqueGdi() = default;
  explicit UniqueGdi(T h) : h_(h) {}
  ~UniqueGdi() { reset(); }
  UniqueGdi(UniqueGdi&& o) noexcept : h_(o.release()) {}
  UniqueGdi& operator=(UniqueGdi&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  T get() const { return h_; }
  T release() { return std::exchange(h_, T{}); }
  void reset(T h = T{}) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }
  explicit operator bool() const { return h_ != T{}; }

 private:
  T h_{};
};

// A file handle from CreateFile, closed with CloseHandle.
class UniqueFile {
 public:
  explicit UniqueFile(HANDLE h) : h_(h) {}
  ~UniqueFile() { close(); }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

// A device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND w) : w_(w), dc_(GetDC(w)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(w_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND w_;
  HDC dc_;
};

// The clipboard, opened for the length of a scope (no owner window).
class OpenedClipboard {
 public:
  OpenedClipboard() : open_(OpenClipboard(nullptr) != 0) {}
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  explicit operator bool() const { return open_; }

 private:
  bool open_;
};

// A C run-time file stream, closed with fclose.
class UniqueStdFile {
 public:
  explicit UniqueStdFile(std::FILE* f) : f_(f) {}
  ~UniqueStdFile() {
    if (f_) std::fclose(f_);
  }
  UniqueStdFile(const UniqueStdFile&) = delete;
  UniqueStdFile& operator=(const UniqueStdFile&) = delete;
  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }

 private:
  std::FILE* f_;
};

// The wait cursor for a long pixel operation. Finish (or the end of the
// scope) sets the arrow; the cursor shown before is not restored.
class WaitCursor {
 public:
  WaitCursor() { SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT))); }
  ~WaitCursor() { Finish(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  void Finish() {
    if (done_) return;
    done_ = true;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  }

 private:
  bool done_ = false;
};

}  // namespace qb
