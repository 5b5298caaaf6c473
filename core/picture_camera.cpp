// The picture's camera data: read from the head of a JPEG file, handed to
// clients through read-only properties.
#include <cstdio>
#include <string>

#include "base/resource_guards.h"
#include "base/text.h"
#include "com/error_report.h"
#include "com/resource.h"
#include "core/vu_picture.h"

namespace qb {
namespace {

// A new BSTR holding an ANSI text, null when it is empty.
HRESULT Widen(const std::string& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::wstring wide = FromAnsi(text);
  if (wide.empty()) return S_OK;
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Put(float value, FLOAT* out) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

// Truncated toward zero; a value outside the range of a long gives 0.
HRESULT PutWhole(float value, LONG* out) {
  if (!out) return E_POINTER;
  *out = (value > -2147483648.0f && value < 2147483648.0f) ? static_cast<LONG>(value) : 0;
  return S_OK;
}

}  // namespace

// Walks the file's segments up to its image data, keeps its EXIF segment
// and takes its camera data over when the EXIF block is sound.
STDMETHODIMP VuPicture::ReadExif(BSTR path) {
  const std::wstring wide(BstrView(path));
  UniqueStdFile file(wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb"));
  if (!file)
    return ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(IDS_FILE_DAMAGED), IID_IVuPicture,
                       DISP_E_EXCEPTION);
  exif::ExifInfo info{};
  exif::FileStream stream(file.get());
  const exif::JpegExifReader::WalkResult walk = m_exif.Read(stream, info);
  if (walk != exif::JpegExifReader::WalkResult::kReachedImage) return S_FALSE;
  if (info.valid) exif::ApplyCameraData(info, m_camera);
  return S_OK;
}

STDMETHODIMP VuPicture::get_Comment(BSTR* value) { return Widen(m_camera.comment, value); }
STDMETHODIMP VuPicture::get_DateTime(BSTR* value) { return Widen(m_camera.dateTime, value); }
STDMETHODIMP VuPicture::get_CameraMake(BSTR* value) { return Widen(m_camera.cameraMake, value); }
STDMETHODIMP VuPicture::get_CameraModel(BSTR* value) { return Widen(m_camera.cameraModel, value); }
STDMETHODIMP VuPicture::get_FlashUsed(BSTR* value) { return Widen(m_camera.flashUsed, value); }
// Nothing ever fills the spare text.
STDMETHODIMP VuPicture::get_SpareText(BSTR* value) { return Widen(std::string(), value); }
STDMETHODIMP VuPicture::get_ExifVersion(BSTR* value) { return Widen(m_camera.exifVersion, value); }
STDMETHODIMP VuPicture::get_ExposureTime(FLOAT* value) { return Put(m_camera.exposureTime, value); }
STDMETHODIMP VuPicture::get_FocalLength(LONG* value) { return PutWhole(m_camera.focalLength, value); }
STDMETHODIMP VuPicture::get_XResolution(FLOAT* value) { return Put(m_camera.xResolution, value); }
STDMETHODIMP VuPicture::get_YResolution(FLOAT* value) { return Put(m_camera.yResolution, value); }
STDMETHODIMP VuPicture::get_BrightnessValue(FLOAT* value) { return Put(m_camera.brightness, value); }
STDMETHODIMP VuPicture::get_Aperture(LONG* value) { return PutWhole(m_camera.aperture, value); }

}  // namespace qb
