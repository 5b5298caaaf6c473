// Blurs a picture through the imaging library.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class BlurModifier final : public Modifier<IBlurModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Level(LONG* value) override;
  STDMETHODIMP put_Level(LONG value) override;
};

}  // namespace qb
