#include "modifiers/add_text.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP AddText::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::get_Text(BSTR*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::put_Text(BSTR) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::get_ForeColor(OLE_COLOR*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::put_ForeColor(OLE_COLOR) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::get_Font(IFontDisp**) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::put_Font(IFontDisp*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::get_X(LONG*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::put_X(LONG) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::get_Y(LONG*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::put_Y(LONG) { return NotAvailable(CLSID_AddText, IID_IAddText); }

STDMETHODIMP AddText::putref_Font(IFontDisp*) { return NotAvailable(CLSID_AddText, IID_IAddText); }

}  // namespace qb
