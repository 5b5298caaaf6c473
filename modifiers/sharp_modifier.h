// Sharpens a picture with a 3x3 kernel at a chosen level.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class SharpModifier final : public Modifier<ISharpModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Level(LONG* value) override;
  STDMETHODIMP put_Level(LONG value) override;
};

}  // namespace qb
