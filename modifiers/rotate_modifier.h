// Rotates a picture through the imaging library by an angle in degrees
// (clockwise as seen; negative angles are stored as 0). A source without an
// image and a failed rotation are told to the user in a message box.
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

 private:
  int32_t m_angle = 0;  // 0 or more
};

}  // namespace qb
