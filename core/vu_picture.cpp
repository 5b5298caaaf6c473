#include "core/vu_picture.h"

#include "core/imaging_library.h"
#include "server/error_report.h"

namespace qb {

// The picture owns its block and gives it back to the imaging library,
// which frees blocks of its own and of the module alike.
VuPicture::~VuPicture() {
  if (m_handle > 0) NimboFreeMemory(m_handle);
  m_handle = 0;
}

STDMETHODIMP VuPicture::get_BitCount(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::put_BitCount(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Handle(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::put_Handle(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Height(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::put_Height(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Width(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::put_Width(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::LoadFile(BSTR) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_FileName(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::put_FileName(BSTR) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::AttachImage(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::CopyToClipboard() { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::PasteFromClipboard() { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::SaveFile(BSTR, LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Comment(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_DateTime(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_CameraMake(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_CameraModel(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_FlashUsed(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_SpareText(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_ExifVersion(BSTR*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_ExposureTime(float*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::SetFile(BSTR) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::DrawFile(LONG) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::CreateThumbnail(LONG, LONG, LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Bitmap(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::SaveAs(BSTR, BSTR) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::ReadExif(BSTR) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_FocalLength(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_XResolution(float*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_YResolution(float*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_BrightnessValue(float*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_Aperture(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::Save() { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

STDMETHODIMP VuPicture::get_HasImage(LONG*) { return NotAvailable(CLSID_VuPicture, IID_IVuPicture); }

}  // namespace qb
