// Stretches a picture into a caller's device context.
#pragma once

#include "quillbox.h"
#include "com/com_object.h"

namespace qb {

class ImageRender final : public ComObject<IImageRender> {
 public:
  using ComObject::ComObject;

  STDMETHODIMP DrawHandle(LONG hDib, LONG hdc, LONG xDest, LONG yDest, LONG destWidth, LONG destHeight, LONG xSrc, LONG ySrc, LONG srcWidth, LONG srcHeight) override;
  STDMETHODIMP DrawPicture(IVuPicture* picture, LONG hdc, LONG xDest, LONG yDest, LONG destWidth, LONG destHeight, LONG xSrc, LONG ySrc, LONG srcWidth, LONG srcHeight) override;
  STDMETHODIMP get_Reserved(LONG* value) override;
};

}  // namespace qb
