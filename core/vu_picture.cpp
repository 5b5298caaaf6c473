#include "core/vu_picture.h"

#include <new>
#include <string>
#include <utility>

#include "base/ansi_path.h"
#include "base/portable/dib_format.h"
#include "base/text.h"
#include "com/error_report.h"
#include "com/resource.h"
#include "core/packed_dib.h"
#include "core/picture_bytes.h"
#include "rastrum/rastrum.h"

namespace qb {

namespace {

// A copy of a string member for a caller (null when empty).
HRESULT CopyOut(const UniqueBstr& member, BSTR* out) {
  const UINT length = SysStringLen(member.get());
  if (length == 0) {
    *out = nullptr;
    return S_OK;
  }
  *out = SysAllocStringLen(member.get(), length);
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
VuPicture::~VuPicture() = default;

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
  if (m_handle.get() < 0) {
    m_bitCount = 0;
    *value = 0;
    return PlainFailure(E_FAIL);
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
  if (m_handle.get() <= 0) {
    m_handle.reset();
    *value = 0;
    return PlainFailure(E_FAIL);
  }
  *value = m_handle.lend();
  return S_OK;
}

// Stores the value as it is. The block held before is freed only when the
// picture made it and never lent it out (through get_Handle); any other is
// left to whoever replaces it this way. A block that another live object
// already owns (a script's `q.Handle = p.Handle`) is copied, so that it is
// never freed twice.
STDMETHODIMP VuPicture::put_Handle(LONG value) {
  m_handle = PictureBlock::Taken(value);
  if (value > 0 && !m_handle) return PlainFailure(E_OUTOFMEMORY);
  return S_OK;
}

STDMETHODIMP VuPicture::get_Height(LONG* value) {
  if (!value) return E_POINTER;
  if (m_handle.get() < 0) {
    m_height = 0;
    *value = 0;
    return PlainFailure(E_FAIL);
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
  if (m_handle.get() < 0) {
    *value = 0;
    return PlainFailure(E_FAIL);
  }
  *value = m_width;
  return S_OK;
}

STDMETHODIMP VuPicture::put_Width(LONG value) {
  m_width = value;
  return S_OK;
}

HRESULT VuPicture::LoadFailed() {
  return ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(IDS_OPEN_IMAGE_FAILED), IID_IVuPicture,
                     DISP_E_EXCEPTION);
}

STDMETHODIMP VuPicture::LoadFile(BSTR path) {
  m_handle.reset();
  const std::wstring wide(BstrView(path));
  const AnsiReadPath narrow(wide);
  PictureBlock loaded(NimboLoadFile(path ? narrow.get() : nullptr));
  if (!loaded) {
    std::wstring number;
    const UINT detail = FileLoadDetail(loaded.get(), wide, number);
    SetDetail(detail, wide, number);
    return LoadFailed();
  }
  TakeLoaded(std::move(loaded));
  UniqueBstr name(path ? SysAllocString(path) : nullptr);
  m_fileName = std::move(name);
  m_orientation = OrientationOfFile(path);
  m_errorDetail.clear();
  return S_OK;
}

STDMETHODIMP VuPicture::get_FileName(BSTR* value) {
  if (!value) return E_POINTER;
  if (m_handle.get() < 0) return PlainFailure(E_FAIL);
  return CopyOut(m_fileName, value);
}

STDMETHODIMP VuPicture::put_FileName(BSTR value) {
  if (m_handle.get() < 0) return PlainFailure(E_FAIL);
  return CopyIn(value, m_fileName) ? S_OK : E_OUTOFMEMORY;
}

// Takes the block over. The block held before is freed only when the
// picture made it and never lent it out; any other is left to whoever
// replaces it this way. A block that another live object already owns (a
// script's `q.AttachImage p.Handle`) is copied instead, so that it is never
// freed twice.
STDMETHODIMP VuPicture::AttachImage(LONG handle) {
  if (handle < 0) return PlainFailure(E_FAIL);
  m_handle = PictureBlock::Taken(handle);
  if (handle == 0) {
    m_width = m_height = m_bitCount = 0;
    return S_OK;
  }
  if (!m_handle) return PlainFailure(E_OUTOFMEMORY);
  handle = m_handle.get();
  m_height = DibHeight(handle);
  m_width = DibWidth(handle);
  GlobalLockGuard lock(ToHGlobal(handle));
  if (lock && GlobalSize(ToHGlobal(handle)) >= 16) m_bitCount = dib::LoadU16(lock.bytes() + 14);
  return S_OK;
}

void VuPicture::Adopt(PictureBlock block) {
  m_handle = std::move(block);
  m_width = m_height = m_bitCount = 0;
  if (!m_handle) return;
  const HGLOBAL h = ToHGlobal(m_handle.get());
  GlobalLockGuard lock(h);
  if (!lock) return;
  const std::span<const uint8_t> header(lock.bytes(), GlobalSize(h));
  m_width = dib::WidthField(header);
  m_height = dib::HeightField(header);
  if (header.size() >= 16) m_bitCount = dib::LoadU16(header.data() + 14);
}

void VuPicture::Adopt(PictureBlock block, int32_t width, int32_t height, int32_t bitCount) {
  m_handle = std::move(block);
  m_width = width;
  m_height = height;
  if (m_handle) m_bitCount = bitCount;
}

// Takes the path as the file name only when something exists there.
STDMETHODIMP VuPicture::SetFile(BSTR path) {
  if (GetFileAttributesW(path ? path : L"") == INVALID_FILE_ATTRIBUTES) return S_OK;
  return CopyIn(path, m_fileName) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VuPicture::get_HasImage(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_handle ? 1 : 0;
  return S_OK;
}

}  // namespace qb
