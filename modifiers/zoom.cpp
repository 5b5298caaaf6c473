#include "modifiers/zoom.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP Zoom::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::get_Reserved(LONG*) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::put_Reserved(LONG) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::get_Height(LONG*) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::put_Height(LONG) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::get_Width(LONG*) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

STDMETHODIMP Zoom::put_Width(LONG) { return NotAvailable(CLSID_Zoom, IID_IZoom); }

}  // namespace qb
