// Shifts hue, lightness and saturation of a picture. Palette pictures have
// their colour table adjusted; their pixel indices stay.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class AdjustColorModifier final : public Modifier<IAdjustColorModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP put_Hue(LONG value) override;
  STDMETHODIMP put_Lightness(LONG value) override;
  STDMETHODIMP put_Saturation(LONG value) override;

 private:
  int32_t m_hue = 0;         // degrees
  int32_t m_lightness = 0;   // percent of the whole range
  int32_t m_saturation = 0;  // percent of the whole range
};

}  // namespace qb
