// Lays a picture over a picture through a mask.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class AddPic final : public Modifier<IAddPic> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_X(LONG* value) override;
  STDMETHODIMP put_X(LONG value) override;
  STDMETHODIMP get_MaskHandle(LONG* value) override;
  STDMETHODIMP put_MaskHandle(LONG value) override;
  STDMETHODIMP get_Y(LONG* value) override;
  STDMETHODIMP put_Y(LONG value) override;
  STDMETHODIMP get_PicHandle(LONG* value) override;
  STDMETHODIMP put_PicHandle(LONG value) override;
  STDMETHODIMP LoadPicFile(BSTR path) override;
  STDMETHODIMP LoadMaskFile(BSTR path) override;
};

}  // namespace qb
