// RAII guards for the Win32 resources the server touches. Each guard owns
// exactly one resource and releases it on every path out of a scope.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <utility>

namespace qb {

// One guard for every owned handle: a resource that one call releases.
// Traits name the handle type, the value that holds nothing (Empty) and the
// release call (Close); each resource below is a Traits line and an alias.
// The guard adopts what it is given: the acquiring call stands at the call
// site, so a reader sees both halves of the pair.
template <class Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle h) : m_h(h) {}
  // A guard made of a bare null holds nothing: the default one says so.
  explicit UniqueResource(std::nullptr_t) = delete;
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& o) noexcept : m_h(o.release()) {}
  UniqueResource& operator=(UniqueResource&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  Handle get() const { return m_h; }
  // Releases what is held and lends the slot to a call that fills it.
  Handle* put() {
    reset();
    return &m_h;
  }
  Handle release() { return std::exchange(m_h, Traits::Empty()); }
  void reset(Handle h = Traits::Empty()) {
    if (m_h != Traits::Empty()) Traits::Close(m_h);
    m_h = h;
  }
  explicit operator bool() const { return m_h != Traits::Empty(); }

 private:
  Handle m_h = Traits::Empty();
};

// Handles whose empty value is null.
template <class H>
struct NullIsEmpty {
  using Handle = H;
  static constexpr H Empty() { return H{}; }
};

struct HGlobalTraits : NullIsEmpty<HGLOBAL> { static void Close(HGLOBAL h) { GlobalFree(h); } };
struct HKeyTraits : NullIsEmpty<HKEY> { static void Close(HKEY h) { RegCloseKey(h); } };
struct BstrTraits : NullIsEmpty<BSTR> { static void Close(BSTR s) { SysFreeString(s); } };
template <class T>
struct GdiTraits : NullIsEmpty<T> { static void Close(T h) { DeleteObject(h); } };
// CreateFile fails with INVALID_HANDLE_VALUE, not null.
struct FileTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
// A device context of the screen from GetDC(nullptr).
struct ScreenDcTraits : NullIsEmpty<HDC> { static void Close(HDC dc) { ReleaseDC(nullptr, dc); } };
// A memory device context from CreateCompatibleDC.
struct MemoryDcTraits : NullIsEmpty<HDC> { static void Close(HDC dc) { DeleteDC(dc); } };
struct StdFileTraits : NullIsEmpty<std::FILE*> { static void Close(std::FILE* f) { std::fclose(f); } };

// A global block, freed with GlobalFree.
using UniqueHGlobal = UniqueResource<HGlobalTraits>;
using UniqueHKey = UniqueResource<HKeyTraits>;
// A BSTR, adopted as it is (not copied) and freed with SysFreeString;
// SysStringLen(get()) is its length, 0 when null.
using UniqueBstr = UniqueResource<BstrTraits>;
// A GDI object (bitmap, font, brush, palette) deleted with DeleteObject.
template <class T>
using UniqueGdi = UniqueResource<GdiTraits<T>>;
// A file handle from CreateFile, closed with CloseHandle.
using UniqueFile = UniqueResource<FileTraits>;
// WindowDc screen(GetDC(nullptr)): given back with ReleaseDC.
using WindowDc = UniqueResource<ScreenDcTraits>;
// MemoryDc dc(CreateCompatibleDC(like)): deleted with DeleteDC.
using MemoryDc = UniqueResource<MemoryDcTraits>;
// A C run-time file stream, closed with fclose.
using UniqueStdFile = UniqueResource<StdFileTraits>;

// Pairs that are not owned handles but a call and its undo within one
// scope: a lock, a selection, the clipboard, the cursor.

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
