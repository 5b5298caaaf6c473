// Shifts hue, lightness and saturation of a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class AdjustColorModifier final : public Modifier<IAdjustColorModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP put_Hue(LONG value) override;
  STDMETHODIMP put_Lightness(LONG value) override;
  STDMETHODIMP put_Saturation(LONG value) override;
};

}  // namespace qb
