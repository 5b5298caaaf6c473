// Brightens or darkens a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class Bright final : public Modifier<IBright> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_PreHnd(LONG* handle) override;
  STDMETHODIMP get_Brightness(LONG* value) override;
  STDMETHODIMP put_Brightness(LONG value) override;
};

}  // namespace qb
