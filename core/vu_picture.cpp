#include "core/vu_picture.h"

#include <new>
#include <string>
#include <utility>

#include "rastrum/rastrum.h"
#include "core/packed_dib.h"
#include "base/portable/dib_format.h"
#include "com/error_report.h"

namespace qb {

namespace {

// The path as the imaging library takes it: in the system ANSI code page;
// null for a null path.
std::string ToAnsi(BSTR path, bool* isNull) {
  *isNull = path == nullptr;
  if (!path) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(SysStringLen(path)), nullptr, 0,
                              nullptr, nullptr);
  std::string narrow(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(SysStringLen(path)), narrow.data(), n,
                        nullptr, nullptr);
  return narrow;
}

// A copy of a string member for a caller (null when empty).
HRESULT CopyOut(const UniqueBstr& member, BSTR* out) {
  if (member.length() == 0) {
    *out = nullptr;
    return S_OK;
  }
  *out = SysAllocStringLen(member.get(), member.length());
  return *out ? S_OK : E_OUTOFMEMORY;
}

// A picture's own copy of a string; null for a null or empty one.
bool CopyIn(BSTR value, UniqueBstr& member) {
  BSTR copy = nullptr;
  if (value && SysStringLen(value) > 0) {
    copy = SysAllocStringLen(value, SysStringLen(value));
    if (!copy) return false;
  }
  member.reset(copy);
  return true;
}

}  // namespace

// The picture gives its block back to the imaging library, which frees
// blocks of its own and of the module alike.
VuPicture::~VuPicture() {
  if (m_handle > 0) NimboFreeMemory(m_handle);
  m_handle = 0;
  if (m_bitmap) DeleteObject(m_bitmap);
  m_bitmap = nullptr;
  m_fileName.reset();
  m_bitCount = m_height = m_width = 0;
}

HRESULT CreatePicture(IVuPicture** picture) {
  if (!picture) return E_POINTER;
  VuPicture* created = new (std::nothrow) VuPicture(nullptr);
  *picture = created;
  return created ? S_OK : E_OUTOFMEMORY;
}

// Getters test the handle with signed comparisons: a negative handle is an
// invalid picture, reported once and then forgotten by get_Handle.
STDMETHODIMP VuPicture::get_BitCount(LONG* value) {
  if (!value) return E_POINTER;
  if (m_handle < 0) {
    m_bitCount = 0;
    *value = 0;
    return E_FAIL;
  }
  *value = m_bitCount;
  return S_OK;
}

STDMETHODIMP VuPicture::put_BitCount(LONG value) {
  m_bitCount = value;
  return S_OK;
}

STDMETHODIMP VuPicture::get_Handle(LONG* value) {
  if (!value) return E_POINTER;
  if (m_handle <= 0) {
    m_handle = 0;
    *value = 0;
    return E_FAIL;
  }
  *value = m_handle;
  return S_OK;
}

// Stores the value as it is: the block is neither read nor is the one held
// before released; whoever replaces a block this way answers for the old one.
STDMETHODIMP VuPicture::put_Handle(LONG value) {
  m_handle = value;
  return S_OK;
}

STDMETHODIMP VuPicture::get_Height(LONG* value) {
  if (!value) return E_POINTER;
  if (m_handle < 0) {
    m_height = 0;
    *value = 0;
    return E_FAIL;
  }
  *value = m_height;
  return S_OK;
}

STDMETHODIMP VuPicture::put_Height(LONG value) {
  m_height = value;
  return S_OK;
}

STDMETHODIMP VuPicture::get_Width(LONG* value) {
  if (!value) return E_POINTER;
  if (m_handle < 0) {
    *value = 0;
    return E_FAIL;
  }
  *value = m_width;
  return S_OK;
}

STDMETHODIMP VuPicture::put_Width(LONG value) {
  m_width = value;
  return S_OK;
}

HRESULT VuPicture::LoadFailed() {
  return ReportError(CLSID_VuPicture, L"\x6253\x5F00\x56FE\x50CF\x6587\x4EF6\x5931\x8D25\xFF01",
                     IID_IVuPicture);
}

STDMETHODIMP VuPicture::LoadFile(BSTR path) {
  if (m_handle > 0) NimboFreeMemory(m_handle);
  m_handle = 0;
  bool isNull = false;
  std::string narrow = ToAnsi(path, &isNull);
  int32_t loaded = NimboLoadFile(isNull ? nullptr : narrow.c_str());
  if (loaded <= 0) return LoadFailed();
  // The picture never holds the library's own block.
  int32_t copy = DuplicateDib(loaded);
  NimboFreeMemory(loaded);
  if (copy <= 0) return LoadFailed();
  m_handle = copy;
  {
    GlobalLockGuard lock(ToHGlobal(m_handle));
    if (lock && GlobalSize(ToHGlobal(m_handle)) >= dib::kInfoHeaderSize) {
      m_width = dib::LoadI32(lock.bytes() + 4);
      m_height = dib::LoadI32(lock.bytes() + 8);
      m_bitCount = dib::LoadU16(lock.bytes() + 14);
    }
  }
  UniqueBstr name(path ? SysAllocStringLen(path, SysStringLen(path)) : nullptr);
  m_fileName = std::move(name);
  return S_OK;
}

STDMETHODIMP VuPicture::get_FileName(BSTR* value) {
  if (!value) return E_POINTER;
  if (m_handle < 0) return E_FAIL;
  return CopyOut(m_fileName, value);
}

STDMETHODIMP VuPicture::put_FileName(BSTR value) {
  if (m_handle < 0) return E_FAIL;
  return CopyIn(value, m_fileName) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VuPicture::AttachImage(LONG handle) {
  if (handle < 0) return E_FAIL;
  if (handle == 0) {
    m_handle = m_width = m_height = m_bitCount = 0;
    return S_OK;
  }
  m_height = DibHeight(handle);
  m_width = DibWidth(handle);
  m_handle = handle;
  GlobalLockGuard lock(ToHGlobal(handle));
  if (lock && GlobalSize(ToHGlobal(handle)) >= 16) m_bitCount = dib::LoadU16(lock.bytes() + 14);
  return S_OK;
}

// Takes the path as the file name only when something exists there.
STDMETHODIMP VuPicture::SetFile(BSTR path) {
  if (GetFileAttributesW(path ? path : L"") == INVALID_FILE_ATTRIBUTES) return S_OK;
  return CopyIn(path, m_fileName) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VuPicture::get_HasImage(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_handle > 0 ? 1 : 0;
  return S_OK;
}

}  // namespace qb
