#include "modifiers/contrast.h"

#include "modifiers/portable/tone.h"
#include "modifiers/tone_apply.h"

namespace qb {

STDMETHODIMP Contrast::Apply(IVuPicture* source, IVuPicture** result) {
  return ApplyTone(source, &tone::StretchChannels, m_contrast, result);
}

STDMETHODIMP Contrast::get_Contrast(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_contrast;
  return S_OK;
}

STDMETHODIMP Contrast::put_Contrast(LONG value) {
  m_contrast = tone::ClampLevel(value);
  return S_OK;
}

}  // namespace qb
