#include "modifiers/contrast.h"

#include "server/error_report.h"

namespace qb {

STDMETHODIMP Contrast::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_Contrast, IID_IContrast); }

STDMETHODIMP Contrast::get_PreHnd(LONG*) { return NotAvailable(CLSID_Contrast, IID_IContrast); }

STDMETHODIMP Contrast::get_Contrast(LONG*) { return NotAvailable(CLSID_Contrast, IID_IContrast); }

STDMETHODIMP Contrast::put_Contrast(LONG) { return NotAvailable(CLSID_Contrast, IID_IContrast); }

}  // namespace qb
