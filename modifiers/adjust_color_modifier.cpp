#include "modifiers/adjust_color_modifier.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP AdjustColorModifier::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_AdjustColorModifier, IID_IAdjustColorModifier); }

STDMETHODIMP AdjustColorModifier::put_Hue(LONG) { return NotAvailable(CLSID_AdjustColorModifier, IID_IAdjustColorModifier); }

STDMETHODIMP AdjustColorModifier::put_Lightness(LONG) { return NotAvailable(CLSID_AdjustColorModifier, IID_IAdjustColorModifier); }

STDMETHODIMP AdjustColorModifier::put_Saturation(LONG) { return NotAvailable(CLSID_AdjustColorModifier, IID_IAdjustColorModifier); }

}  // namespace qb
