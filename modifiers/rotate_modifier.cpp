#include "modifiers/rotate_modifier.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP RotateModifier::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_RotateModifier, IID_IRotateModifier); }

STDMETHODIMP RotateModifier::get_Angle(LONG*) { return NotAvailable(CLSID_RotateModifier, IID_IRotateModifier); }

STDMETHODIMP RotateModifier::put_Angle(LONG) { return NotAvailable(CLSID_RotateModifier, IID_IRotateModifier); }

}  // namespace qb
