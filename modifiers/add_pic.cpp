#include "modifiers/add_pic.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP AddPic::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::get_X(LONG*) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::put_X(LONG) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::get_MaskHandle(LONG*) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::put_MaskHandle(LONG) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::get_Y(LONG*) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::put_Y(LONG) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::get_PicHandle(LONG*) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::put_PicHandle(LONG) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::LoadPicFile(BSTR) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

STDMETHODIMP AddPic::LoadMaskFile(BSTR) { return NotAvailable(CLSID_AddPic, IID_IAddPic); }

}  // namespace qb
