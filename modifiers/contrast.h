// Raises (0..50) or lowers (-50..0) the contrast of a picture by
// stretching or squeezing every channel around the middle.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class Contrast final : public Modifier<IContrast> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Contrast(LONG* value) override;
  STDMETHODIMP put_Contrast(LONG value) override;

 private:
  int32_t m_contrast = 0;
};

}  // namespace qb
