// Replaces the red of the pixels inside a rectangle.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class RedEye final : public Modifier<IRedEye> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_RectLeft(LONG* value) override;
  STDMETHODIMP put_RectLeft(LONG value) override;
  STDMETHODIMP get_RectTop(LONG* value) override;
  STDMETHODIMP put_RectTop(LONG value) override;
  STDMETHODIMP get_RectWidth(LONG* value) override;
  STDMETHODIMP put_RectWidth(LONG value) override;
  STDMETHODIMP get_RectHeight(LONG* value) override;
  STDMETHODIMP put_RectHeight(LONG value) override;
  STDMETHODIMP get_Extra(LONG* value) override;
  STDMETHODIMP put_Extra(LONG value) override;
};

}  // namespace qb
