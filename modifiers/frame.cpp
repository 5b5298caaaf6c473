#include "modifiers/frame.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP Frame::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::get_FrameHandle(LONG*) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::put_FrameHandle(LONG) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::get_FrameHandle2(LONG*) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::put_FrameHandle2(LONG) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::LoadFrameFile(BSTR) { return NotAvailable(CLSID_Frame, IID_IFrame); }

STDMETHODIMP Frame::LoadFrameFile2(BSTR) { return NotAvailable(CLSID_Frame, IID_IFrame); }

}  // namespace qb
