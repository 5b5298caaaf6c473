#include "modifiers/bright.h"

#include "modifiers/portable/tone.h"

namespace qb {

// A 24-bit copy walked by the curve; the file name passed on only when it is
// not empty.
constexpr CopySteps kSteps{.names = NamePolicy::kWhenNonEmpty};

STDMETHODIMP Bright::Apply(IVuPicture* source, IVuPicture** result) {
  return ApplyToRows(source, kSteps, result,
                     [&](dib::ImageView rows) { tone::ShiftChannels(rows, m_brightnessOffset); });
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
