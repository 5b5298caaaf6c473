#include "modifiers/bright.h"

#include "server/error_report.h"

namespace qb {

STDMETHODIMP Bright::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_Bright, IID_IBright); }

STDMETHODIMP Bright::get_PreHnd(LONG*) { return NotAvailable(CLSID_Bright, IID_IBright); }

STDMETHODIMP Bright::get_Brightness(LONG*) { return NotAvailable(CLSID_Bright, IID_IBright); }

STDMETHODIMP Bright::put_Brightness(LONG) { return NotAvailable(CLSID_Bright, IID_IBright); }

}  // namespace qb
