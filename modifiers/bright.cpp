#include "modifiers/bright.h"

#include "modifiers/portable/tone.h"
#include "modifiers/tone_apply.h"

namespace qb {

STDMETHODIMP Bright::Apply(IVuPicture* source, IVuPicture** result) {
  return ApplyTone(source, &tone::ShiftChannels, m_brightnessOffset, result);
}

STDMETHODIMP Bright::get_Brightness(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_brightnessOffset;
  return S_OK;
}

STDMETHODIMP Bright::put_Brightness(LONG value) {
  m_brightnessOffset = tone::ClampLevel(value);
  return S_OK;
}

}  // namespace qb
