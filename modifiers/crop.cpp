#include "modifiers/crop.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP Crop::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::get_RectWidth(LONG*) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::put_RectWidth(LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::get_RectHeight(LONG*) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::put_RectHeight(LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::get_RectLeft(LONG*) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::put_RectLeft(LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::get_RectTop(LONG*) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::put_RectTop(LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::Reserved1(LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

STDMETHODIMP Crop::Reserved2(LONG, LONG, LONG, LONG) { return NotAvailable(CLSID_Crop, IID_ICrop); }

}  // namespace qb
