// Cuts a rectangle out of a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class Crop final : public Modifier<ICrop> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_RectWidth(LONG* value) override;
  STDMETHODIMP put_RectWidth(LONG value) override;
  STDMETHODIMP get_RectHeight(LONG* value) override;
  STDMETHODIMP put_RectHeight(LONG value) override;
  STDMETHODIMP get_RectLeft(LONG* value) override;
  STDMETHODIMP put_RectLeft(LONG value) override;
  STDMETHODIMP get_RectTop(LONG* value) override;
  STDMETHODIMP put_RectTop(LONG value) override;
  STDMETHODIMP Reserved1(LONG value) override;
  STDMETHODIMP Reserved2(LONG a, LONG b, LONG c, LONG d) override;
};

}  // namespace qb
