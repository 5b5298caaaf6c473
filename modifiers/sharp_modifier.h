// Sharpens a picture with a 3x3 kernel at a chosen level: 0 or less leaves
// it as it is, 10 is the kernel's full response, values between blend and
// values above extrapolate.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class SharpModifier final : public Modifier<ISharpModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Level(LONG* value) override;
  STDMETHODIMP put_Level(LONG value) override;

 private:
  int32_t m_level = 0;
};

}  // namespace qb
