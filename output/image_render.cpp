#include "output/image_render.h"

#include <wrl/client.h>

#include "core/packed_dib.h"
#include "core/picture_block.h"

namespace qb {
namespace {

// Stretches the block into the context. The stretch mode stays HALFTONE on
// the caller's context. Returns the scan lines StretchDIBits drew, in place
// of an HRESULT; 0 when the handle does not lock or the block is smaller
// than its header says, and nothing is drawn then.
HRESULT Draw(LONG hDib, LONG hdc, LONG xDest, LONG yDest, LONG destWidth, LONG destHeight, LONG xSrc,
             LONG ySrc, LONG srcWidth, LONG srcHeight) {
  LockedDib dib(hDib, dib::kAllDepths);
  HDC dc = reinterpret_cast<HDC>(static_cast<intptr_t>(hdc));
  SetStretchBltMode(dc, HALFTONE);
  if (!dib.ok()) return 0;
  // The rows follow the header's own size and the colour table the block
  // really has (three masks after a 40-byte BI_BITFIELDS header).
  const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.bytes());
  const int lines = StretchDIBits(dc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight,
                                  dib.bytes() + dib.layout().pixelOffset, info, DIB_RGB_COLORS, SRCCOPY);
  return static_cast<HRESULT>(lines);
}

}  // namespace

STDMETHODIMP ImageRender::DrawHandle(LONG hDib, LONG hdc, LONG xDest, LONG yDest, LONG destWidth, LONG destHeight,
                                     LONG xSrc, LONG ySrc, LONG srcWidth, LONG srcHeight) {
  return Draw(hDib, hdc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight);
}

STDMETHODIMP ImageRender::DrawPicture(IVuPicture* picture, LONG hdc, LONG xDest, LONG yDest, LONG destWidth,
                                      LONG destHeight, LONG xSrc, LONG ySrc, LONG srcWidth, LONG srcHeight) {
  LONG handle = 0;
  if (picture) picture->get_Handle(&handle);
  PictureBlock::EndLoan(handle);  // read for this call only, not lent to anyone
  return Draw(handle, hdc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight);
}

// Reserved: answers S_OK and writes nothing.
STDMETHODIMP ImageRender::get_Reserved(LONG*) { return S_OK; }

}  // namespace qb
