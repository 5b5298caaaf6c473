// Mirrors a picture left to right (direction 1) or flips it top to bottom
// (direction 2); any other direction gives an unchanged copy. Every depth
// is flipped as it is, palettes kept. m_preHnd holds a copy of the last
// source, as it was, until the next Apply (which frees it unless PreHnd
// gave it out: then it is the caller's) or the object's end.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class MirrorModifier final : public Modifier<IMirrorModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP put_Direction(LONG value) override;

 private:
  int32_t m_direction = 1;
};

}  // namespace qb
