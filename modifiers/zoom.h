// Resizes a picture through the imaging library to a width and height of
// 5 to 10000 pixels each. A size above the limit raises error information.
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
  // get_PreHnd writes nothing: Zoom never holds a working block.

 private:
  // Stored as given; Apply raises each to at least 5 and keeps the raised
  // value.
  int32_t m_width = 0;
  int32_t m_height = 0;
};

}  // namespace qb
