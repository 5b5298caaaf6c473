#include "modifiers/blur_modifier.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP BlurModifier::Apply(IVuPicture*, IVuPicture**) { return NotAvailable(CLSID_BlurModifier, IID_IBlurModifier); }

STDMETHODIMP BlurModifier::get_Level(LONG*) { return NotAvailable(CLSID_BlurModifier, IID_IBlurModifier); }

STDMETHODIMP BlurModifier::put_Level(LONG) { return NotAvailable(CLSID_BlurModifier, IID_IBlurModifier); }

}  // namespace qb
