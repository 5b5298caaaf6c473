#include "modifiers/sharp_modifier.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP SharpModifier::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_SharpModifier, IID_ISharpModifier); }

STDMETHODIMP SharpModifier::get_Level(LONG*) { return NotAvailable(CLSID_SharpModifier, IID_ISharpModifier); }

STDMETHODIMP SharpModifier::put_Level(LONG) { return NotAvailable(CLSID_SharpModifier, IID_ISharpModifier); }

}  // namespace qb
