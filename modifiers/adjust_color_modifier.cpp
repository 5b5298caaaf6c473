#include "modifiers/adjust_color_modifier.h"

#include "modifiers/portable/color_adjust.h"

namespace qb {

// Every source gives a picture: none without an image, the untouched copy
// of a block whose header cannot be trusted. Palettes are adjusted in their
// table; 16- and 32-bit pictures are converted to 24 bits first.
constexpr CopySteps kSteps{.handled = dib::kPaletteDepths | dib::kDepth24,
                           .emptySource = std::nullopt,
                           .alwaysFinish = true};

STDMETHODIMP AdjustColorModifier::Apply(IVuPicture* source, IVuPicture** result) {
  const color::Shifts shifts = color::MakeShifts(m_hue, m_lightness, m_saturation);
  return ApplyToCopy(source, kSteps, result, [&](LockedDib& work) {
    color::AdjustColors(work.block(), shifts);
    return S_OK;
  });
}

STDMETHODIMP AdjustColorModifier::put_Hue(LONG value) {
  m_hue = value;
  return S_OK;
}

STDMETHODIMP AdjustColorModifier::put_Lightness(LONG value) {
  m_lightness = value;
  return S_OK;
}

STDMETHODIMP AdjustColorModifier::put_Saturation(LONG value) {
  m_saturation = value;
  return S_OK;
}

}  // namespace qb
