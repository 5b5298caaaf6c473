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
  explicit GlobalLockGuard(HGLOBAL h) : m_h(h), m_p(h ? GlobalLock(h) : nullptr) {}
  ~GlobalLockGuard() {
    if (m_p) GlobalUnlock(m_h);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  void* get() const { return m_p; }
  unsigned char* bytes() const { return static_cast<unsigned char*>(m_p); }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  HGLOBAL m_h;
  void* m_p;
};

// Owns a global block until released; frees it with GlobalFree.
class UniqueHGlobal {
 public:
  UniqueHGlobal() = default;
  explicit UniqueHGlobal(HGLOBAL h) : m_h(h) {}
  ~UniqueHGlobal() { reset(); }
  UniqueHGlobal(UniqueHGlobal&& o) noexcept : m_h(o.release()) {}
  UniqueHGlobal& operator=(UniqueHGlobal&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  HGLOBAL get() const { return m_h; }
  HGLOBAL release() { return std::exchange(m_h, nullptr); }
  void reset(HGLOBAL h = nullptr) {
    if (m_h) GlobalFree(m_h);
    m_h = h;
  }
  explicit operator bool() const { return m_h != nullptr; }

 private:
  HGLOBAL m_h = nullptr;
};

class UniqueHKey {
 public:
  UniqueHKey() = default;
  explicit UniqueHKey(HKEY h) : m_h(h) {}
  ~UniqueHKey() { reset(); }
  UniqueHKey(UniqueHKey&& o) noexcept : m_h(o.release()) {}
  UniqueHKey& operator=(UniqueHKey&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  HKEY get() const { return m_h; }
  HKEY* put() {
    reset();
    return &m_h;
  }
  HKEY release() { return std::exchange(m_h, nullptr); }
  void reset(HKEY h = nullptr) {
    if (m_h) RegCloseKey(m_h);
    m_h = h;
  }
  explicit operator bool() const { return m_h != nullptr; }

 private:
  HKEY m_h = nullptr;
};

// A BSTR the holder frees with SysFreeString.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const wchar_t* s) : m_s(s ? SysAllocString(s) : nullptr) {}
  ~UniqueBstr() { reset(); }
  UniqueBstr(UniqueBstr&& o) noexcept : m_s(o.release()) {}
  UniqueBstr& operator=(UniqueBstr&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  BSTR get() const { return m_s; }
  BSTR* put() {
    reset();
    return &m_s;
  }
  BSTR release() { return std::exchange(m_s, nullptr); }
  void reset(BSTR s = nullptr) {
    if (m_s) SysFreeString(m_s);
    m_s = s;
  }
  UINT length() const { return m_s ? SysStringLen(m_s) : 0; }

 private:
  BSTR m_s = nullptr;
};

// A GDI object (bitmap, font, brush, palette) deleted with DeleteObject.
template <class T>
class UniqueGdi {
 public:
  UniqueGdi() = default;
  explicit UniqueGdi(T h) : m_h(h) {}
  ~UniqueGdi() { reset(); }
  UniqueGdi(UniqueGdi&& o) noexcept : m_h(o.release()) {}
  UniqueGdi& operator=(UniqueGdi&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  T get() const { return m_h; }
  T release() { return std::exchange(m_h, T{}); }
  void reset(T h = T{}) {
    if (m_h) DeleteObject(m_h);
    m_h = h;
  }
  explicit operator bool() const { return m_h != T{}; }

 private:
  T m_h{};
};

// A file handle from CreateFile, closed with CloseHandle.
class UniqueFile {
 public:
  explicit UniqueFile(HANDLE h) : m_h(h) {}
  ~UniqueFile() { close(); }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  HANDLE get() const { return m_h; }
  bool ok() const { return m_h != INVALID_HANDLE_VALUE; }
  void close() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_h;
};

// A device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND w) : m_w(w), m_dc(GetDC(w)) {}
  ~WindowDc() {
    if (m_dc) ReleaseDC(m_w, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return m_dc; }
  explicit operator bool() const { return m_dc != nullptr; }

 private:
  HWND m_w;
  HDC m_dc;
};

// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class MemoryDc {
 public:
  explicit MemoryDc(HDC like) : m_dc(CreateCompatibleDC(like)) {}
  ~MemoryDc() {
    if (m_dc) DeleteDC(m_dc);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return m_dc; }
  explicit operator bool() const { return m_dc != nullptr; }

 private:
  HDC m_dc;
};

// An object selected into a device context for the length of a scope.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (m_previous && m_previous != HGDI_ERROR) SelectObject(m_dc, m_previous);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  explicit operator bool() const { return m_previous && m_previous != HGDI_ERROR; }

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

// The clipboard, opened for the length of a scope (no owner window).
class OpenedClipboard {
 public:
  OpenedClipboard() : m_open(OpenClipboard(nullptr) != 0) {}
  ~OpenedClipboard() {
    if (m_open) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  explicit operator bool() const { return m_open; }

 private:
  bool m_open;
};

// A C run-time file stream, closed with fclose.
class UniqueStdFile {
 public:
  explicit UniqueStdFile(std::FILE* f) : m_f(f) {}
  ~UniqueStdFile() {
    if (m_f) std::fclose(m_f);
  }
  UniqueStdFile(const UniqueStdFile&) = delete;
  UniqueStdFile& operator=(const UniqueStdFile&) = delete;
  std::FILE* get() const { return m_f; }
  explicit operator bool() const { return m_f != nullptr; }

 private:
  std::FILE* m_f;
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
    if (m_done) return;
    m_done = true;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  }

 private:
  bool m_done = false;
};

}  // namespace qb
