// Brightens or darkens a picture: adds an offset of -50..50 to every
// channel of every pixel, clamped to 0..255.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class Bright final : public Modifier<IBright> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Brightness(LONG* value) override;
  STDMETHODIMP put_Brightness(LONG value) override;

 private:
  int32_t m_brightnessOffset = 0;
};

}  // namespace qb
