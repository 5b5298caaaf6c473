// Lays a picture over a picture through a mask, through the imaging
// library: the overlay's top-left at (x, y) of the source, each pixel
// blended by the mask's grey level there. The overlay and the mask are
// pictures the object holds itself, loaded from files or handed over by
// handle; the mask is turned grey on every Apply.
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

 private:
  int32_t m_x = 0;
  int32_t m_y = 0;
  // 0 (none), a block, or the failure value of a load that failed.
  PictureBlock m_mask;
  PictureBlock m_overlay;
};

}  // namespace qb
