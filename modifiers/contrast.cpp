#include "modifiers/contrast.h"

#include "modifiers/portable/tone.h"

namespace qb {

// As Bright: a 24-bit copy, the file name passed on only when not empty.
constexpr CopySteps kSteps{.names = NamePolicy::kWhenNonEmpty};

STDMETHODIMP Contrast::Apply(IVuPicture* source, IVuPicture** result) {
  return ApplyToRows(source, kSteps, result, [&](dib::ImageView rows) { tone::StretchChannels(rows, m_contrast); });
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
