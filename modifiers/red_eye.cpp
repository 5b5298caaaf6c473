#include "modifiers/red_eye.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP RedEye::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::get_RectLeft(LONG*) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::put_RectLeft(LONG) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::get_RectTop(LONG*) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::put_RectTop(LONG) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::get_RectWidth(LONG*) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::put_RectWidth(LONG) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::get_RectHeight(LONG*) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::put_RectHeight(LONG) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::get_Extra(LONG*) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

STDMETHODIMP RedEye::put_Extra(LONG) { return NotAvailable(CLSID_RedEye, IID_IRedEye); }

}  // namespace qb
