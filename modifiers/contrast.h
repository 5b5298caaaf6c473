// Raises or lowers the contrast of a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class Contrast final : public Modifier<IContrast> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_PreHnd(LONG* handle) override;
  STDMETHODIMP get_Contrast(LONG* value) override;
  STDMETHODIMP put_Contrast(LONG value) override;
};

}  // namespace qb
