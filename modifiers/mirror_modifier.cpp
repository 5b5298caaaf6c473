#include "modifiers/mirror_modifier.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP MirrorModifier::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_MirrorModifier, IID_IMirrorModifier); }

STDMETHODIMP MirrorModifier::put_Direction(LONG) { return NotAvailable(CLSID_MirrorModifier, IID_IMirrorModifier); }

}  // namespace qb
