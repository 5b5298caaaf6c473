// Rotates a picture through the imaging library.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class RotateModifier final : public Modifier<IRotateModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Angle(LONG* value) override;
  STDMETHODIMP put_Angle(LONG value) override;
};

}  // namespace qb
