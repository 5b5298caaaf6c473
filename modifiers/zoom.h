// Resizes a picture through the imaging library.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class Zoom final : public Modifier<IZoom, SupportErrorInfoFor<IZoom>> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Reserved(LONG* value) override;
  STDMETHODIMP put_Reserved(LONG value) override;
  STDMETHODIMP get_Height(LONG* value) override;
  STDMETHODIMP put_Height(LONG value) override;
  STDMETHODIMP get_Width(LONG* value) override;
  STDMETHODIMP put_Width(LONG value) override;
};

}  // namespace qb
