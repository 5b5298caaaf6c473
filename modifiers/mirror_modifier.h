// Mirrors a picture left to right or flips it top to bottom.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class MirrorModifier final : public Modifier<IMirrorModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP put_Direction(LONG value) override;
};

}  // namespace qb
