// A photograph held in memory as a packed DIB, with its file name and the
// camera data of its JPEG source.
#pragma once

#include <cstdint>

#include "quillbox.h"
#include "server/com_object.h"

namespace qb {

class VuPicture final : public ComObject<IVuPicture, SupportErrorInfoFor<IVuPicture>> {
 public:
  using ComObject::ComObject;
  ~VuPicture() override;

  STDMETHODIMP get_BitCount(LONG* value) override;
  STDMETHODIMP put_BitCount(LONG value) override;
  STDMETHODIMP get_Handle(LONG* value) override;
  STDMETHODIMP put_Handle(LONG value) override;
  STDMETHODIMP get_Height(LONG* value) override;
  STDMETHODIMP put_Height(LONG value) override;
  STDMETHODIMP get_Width(LONG* value) override;
  STDMETHODIMP put_Width(LONG value) override;
  STDMETHODIMP LoadFile(BSTR path) override;
  STDMETHODIMP get_FileName(BSTR* value) override;
  STDMETHODIMP put_FileName(BSTR value) override;
  STDMETHODIMP AttachImage(LONG handle) override;
  STDMETHODIMP CopyToClipboard() override;
  STDMETHODIMP PasteFromClipboard() override;
  STDMETHODIMP SaveFile(BSTR path, LONG keepExif) override;
  STDMETHODIMP get_Comment(BSTR* value) override;
  STDMETHODIMP get_DateTime(BSTR* value) override;
  STDMETHODIMP get_CameraMake(BSTR* value) override;
  STDMETHODIMP get_CameraModel(BSTR* value) override;
  STDMETHODIMP get_FlashUsed(BSTR* value) override;
  STDMETHODIMP get_SpareText(BSTR* value) override;
  STDMETHODIMP get_ExifVersion(BSTR* value) override;
  STDMETHODIMP get_ExposureTime(float* value) override;
  STDMETHODIMP SetFile(BSTR path) override;
  STDMETHODIMP DrawFile(LONG hdc) override;
  STDMETHODIMP CreateThumbnail(LONG height, LONG width, LONG* bitmap) override;
  STDMETHODIMP get_Bitmap(LONG* value) override;
  STDMETHODIMP SaveAs(BSTR basePath, BSTR extension) override;
  STDMETHODIMP ReadExif(BSTR path) override;
  STDMETHODIMP get_FocalLength(LONG* value) override;
  STDMETHODIMP get_XResolution(float* value) override;
  STDMETHODIMP get_YResolution(float* value) override;
  STDMETHODIMP get_BrightnessValue(float* value) override;
  STDMETHODIMP get_Aperture(LONG* value) override;
  STDMETHODIMP Save() override;
  STDMETHODIMP get_HasImage(LONG* value) override;

 private:
  int32_t m_handle = 0;  // the held image; 0 = none, negative = invalid
};

}  // namespace qb
