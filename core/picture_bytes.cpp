// The picture as bytes: LoadBytes and SaveBytes for scripts that hold an
// upload or send a result without a file (ADODB.Stream, ASP's
// Request.BinaryRead and Response.BinaryWrite, a database field); the
// quality of lossy saves; and ErrorDetail, the English sentence of the last
// failed load or save.
#include "core/picture_bytes.h"

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <cstring>
#include <string>

#include "base/portable/dib_format.h"
#include "base/resource_guards.h"
#include "base/text.h"
#include "com/error_report.h"
#include "com/module.h"
#include "com/resource.h"
#include "core/packed_dib.h"
#include "core/vu_picture.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/jpeg_exif.h"
#include "rastrum/portable/rastrum_errors.h"
#include "rastrum/rastrum.h"

namespace qb {
namespace {

// The data of a one-dimensional array of bytes, accessed for the length of
// one call.
class AccessedArray {
 public:
  explicit AccessedArray(SAFEARRAY* array) : m_array(array) {
    if (FAILED(SafeArrayAccessData(array, &m_data))) m_data = nullptr;
  }
  ~AccessedArray() {
    if (m_data) SafeArrayUnaccessData(m_array);
  }
  AccessedArray(const AccessedArray&) = delete;
  AccessedArray& operator=(const AccessedArray&) = delete;
  const uint8_t* bytes() const { return static_cast<const uint8_t*>(m_data); }

 private:
  SAFEARRAY* m_array;
  void* m_data = nullptr;
};

// The sentence of a decoder's failure on bytes.
UINT BytesLoadDetail(int32_t failure) {
  switch (failure) {
    case rastrum::kUnknownFormat: return IDS_DETAIL_BYTES_NOT_IMAGE;
    case rastrum::kCorruptData: return IDS_DETAIL_BYTES_CORRUPT;
    case rastrum::kTooLarge: return IDS_DETAIL_BYTES_TOO_LARGE;
    case rastrum::kDecoderMissing: return IDS_DETAIL_BYTES_NO_HEIF;
    default: return IDS_DETAIL_BYTES_FAILED;
  }
}

std::wstring Hex(unsigned value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%04X", value);
  return text;
}

}  // namespace

void EncodedFile::Release() {
  if (m_block) {
    GlobalUnlock(m_block);
    NimboFreeMemory(FromHGlobal(m_block));
  }
  m_block = nullptr;
  m_held = {};
}

void EncodedFile::Replace(std::vector<uint8_t> made) {
  Release();
  m_own = std::move(made);
}

bool EncodedFile::Hold(int32_t encoded) {
  Release();
  m_own.clear();
  const HGLOBAL block = ToHGlobal(encoded);
  const SIZE_T size = GlobalSize(block);
  const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
  if (!p) {
    NimboFreeMemory(encoded);
    return false;
  }
  m_block = block;
  const uint32_t length = size >= 4 ? dib::LoadU32(p) : 0;
  if (size < 4 || length > size - 4) {
    Release();
    return false;
  }
  m_held = std::span<const uint8_t>(p + 4, length);
  return true;
}

int EncodeBlock(int32_t handle, const char* name, int quality, EncodedFile& file) {
  const int32_t encoded = NimboSaveAsMemory(handle, name, quality);
  if (encoded <= 0) return encoded < 0 ? encoded : rastrum::kBadArgument;
  return file.Hold(encoded) ? kEncoded : rastrum::kCorruptData;
}

std::string FormatName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(L'.');
  std::string narrow = "x";
  if (dot == std::wstring_view::npos) return narrow;
  for (wchar_t c : name.substr(dot)) {
    if (c < 0x20 || c > 0x7E) return "x";
    narrow += static_cast<char>(c);
  }
  return narrow;
}

bool NamesJpeg(BSTR extension) {
  if (!extension) return false;
  std::wstring upper(BstrView(extension));
  CharUpperW(upper.data());
  return upper == L".JPG" || upper == L"JPG" || upper == L".JPEG" || upper == L"JPEG";
}

UINT FileLoadDetail(int32_t failure, const std::wstring& path, std::wstring& number) {
  if (path.empty()) return IDS_DETAIL_NO_PATH;
  switch (failure) {
    case rastrum::kBadArgument:  // no narrow name could be had: the file is not there
    case rastrum::kCannotOpen: {
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? IDS_DETAIL_IS_FOLDER : IDS_DETAIL_CANNOT_OPEN;
      const size_t slash = path.find_last_of(L"\\/");
      if (slash != std::wstring::npos && slash > 0) {
        const DWORD folder = GetFileAttributesW(path.substr(0, slash + 1).c_str());
        if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) return IDS_DETAIL_NO_FOLDER;
      }
      return IDS_DETAIL_NO_FILE;
    }
    case rastrum::kCorruptData: {
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
          data.nFileSizeLow == 0)
        return IDS_DETAIL_EMPTY_FILE;
      return IDS_DETAIL_CORRUPT;
    }
    case rastrum::kUnknownFormat: return IDS_DETAIL_NOT_IMAGE;
    case rastrum::kTooLarge: return IDS_DETAIL_TOO_LARGE;
    case rastrum::kDecoderMissing: return IDS_DETAIL_NO_HEIF;
    case rastrum::kOutOfMemory: return IDS_DETAIL_NO_MEMORY;
    default: break;
  }
  number = std::to_wstring(failure);
  return IDS_DETAIL_LOAD_FAILED;
}

void VuPicture::SetDetail(UINT id, std::wstring_view first, std::wstring_view second) {
  wchar_t text[1024];
  if (LoadStringW(ModuleInstance(), id, text, 1024) == 0) text[0] = L'\0';
  std::wstring sentence;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'%' && (p[1] == L'1' || p[1] == L'2')) {
      sentence += p[1] == L'1' ? first : second;
      ++p;
    } else {
      sentence += *p;
    }
  }
  m_errorDetail = std::move(sentence);
}

void VuPicture::TakeLoaded(PictureBlock loaded) {
  m_handle = std::move(loaded);
  GlobalLockGuard lock(ToHGlobal(m_handle.get()));
  if (lock && GlobalSize(ToHGlobal(m_handle.get())) >= dib::kInfoHeaderSize) {
    m_width = dib::LoadI32(lock.bytes() + 4);
    m_height = dib::LoadI32(lock.bytes() + 8);
    m_bitCount = dib::LoadU16(lock.bytes() + 14);
  }
}

// Takes the array (a Variant holding it, or a reference to either, as
// scripts pass their variables), decodes it as LoadFile decodes a file, and
// reads the camera data and metadata segments from the same bytes: there is
// no file to read them from later.
STDMETHODIMP VuPicture::LoadBytes(VARIANT data) {
  m_handle.reset();
  const VARIANT* given = &data;
  if (given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal) given = given->pvarVal;
  SAFEARRAY* array = nullptr;
  if (given->vt == (VT_ARRAY | VT_UI1)) {
    array = given->parray;
  } else if (given->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && given->pparray) {
    array = *given->pparray;
  } else {
    SetDetail(IDS_DETAIL_NOT_BYTE_ARRAY, {}, Hex(given->vt));
    return LoadFailed();
  }
  if (array && SafeArrayGetDim(array) != 1) {
    SetDetail(IDS_DETAIL_ARRAY_DIMENSIONS, {}, std::to_wstring(SafeArrayGetDim(array)));
    return LoadFailed();
  }
  if (array && SafeArrayGetElemsize(array) != 1) {
    SetDetail(IDS_DETAIL_NOT_BYTE_ARRAY, {}, Hex(given->vt));
    return LoadFailed();
  }
  LONG lower = 0, upper = -1;
  if (array && (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))))
    upper = lower - 1;
  const int64_t count = static_cast<int64_t>(upper) - lower + 1;
  if (!array || count <= 0) {
    SetDetail(IDS_DETAIL_EMPTY_ARRAY);
    return LoadFailed();
  }
  AccessedArray bytes(array);
  if (!bytes.bytes()) {
    SetDetail(IDS_DETAIL_BYTES_FAILED, {}, std::to_wstring(rastrum::kBadArgument));
    return LoadFailed();
  }
  const std::span<const uint8_t> file(bytes.bytes(), static_cast<size_t>(count));
  PictureBlock loaded(NimboLoadMemory(file.data(), static_cast<uint32_t>(count)));
  if (!loaded) {
    SetDetail(BytesLoadDetail(loaded.get()), {}, std::to_wstring(loaded.get()));
    return LoadFailed();
  }
  TakeLoaded(std::move(loaded));
  // The picture now describes these bytes alone: what an earlier file or
  // array carried is dropped. The reader tells the format by the bytes.
  m_exif.Forget();
  m_camera = exif::CameraData{};
  exif::ExifInfo info{};
  exif::MemoryStream stream(file);
  if (m_exif.Read(stream, info) == exif::JpegExifReader::WalkResult::kReachedImage && info.valid)
    exif::ApplyCameraData(info, m_camera);
  m_orientation = m_exif.pendingOrientation();
  m_fileName.reset();
  m_errorDetail.clear();
  return S_OK;
}

// The bytes SaveAs would write for the same extension, made by the same
// code.
STDMETHODIMP VuPicture::SaveBytes(BSTR extension, VARIANT* data) {
  if (!data) return E_POINTER;
  if (m_handle.get() < 0) {
    SetDetail(IDS_DETAIL_NO_IMAGE);
    return PlainFailure(E_UNEXPECTED);
  }
  const std::wstring ext(BstrView(extension));
  const std::wstring name = L"picture" + (ext.empty() || ext[0] == L'.' ? ext : L"." + ext);
  RefreshExifFromSource();
  EncodedFile encodedFile;
  const HRESULT encoded =
      EncodeForSave(name, !m_exif.exifBlock().empty() && NamesJpeg(extension), encodedFile, L"\"" + ext + L"\"");
  if (FAILED(encoded)) return encoded;
  const std::span<const uint8_t> file = encodedFile.bytes();
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(file.size()));
  if (!array) return PlainFailure(E_OUTOFMEMORY);
  {
    AccessedArray out(array);
    if (!out.bytes()) {
      SafeArrayDestroy(array);
      return PlainFailure(E_OUTOFMEMORY);
    }
    std::memcpy(const_cast<uint8_t*>(out.bytes()), file.data(), file.size());
  }
  VariantInit(data);
  data->vt = VT_ARRAY | VT_UI1;
  data->parray = array;
  m_errorDetail.clear();
  return S_OK;
}

STDMETHODIMP VuPicture::get_Quality(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_quality;
  return S_OK;
}

STDMETHODIMP VuPicture::put_Quality(LONG value) {
  m_quality = value < 1 ? 1 : value > 100 ? 100 : static_cast<int>(value);
  return S_OK;
}

STDMETHODIMP VuPicture::get_ErrorDetail(BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  if (m_errorDetail.empty()) return S_OK;
  *value = SysAllocStringLen(m_errorDetail.data(), static_cast<UINT>(m_errorDetail.size()));
  return *value ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qb
