#include "output/image_render.h"

#include <wrl/client.h>

#include <cstring>

#include "core/packed_dib.h"
#include "core/picture_block.h"

namespace qb {
namespace {

// Stretches the block into the context. The stretch mode stays HALFTONE on
// the caller's context. Returns the scan lines StretchDIBits drew, in place
// of an HRESULT; 0 when the handle does not lock or the block is smaller
// than its header says, and nothing is drawn then.
//
// An RLE8 or RLE4 block goes to GDI as it is written, once its stream is
// proved whole inside the block (GDI reads it to its end of bitmap). GDI
// takes the stream's length from biSizeImage: a header that leaves it 0 is
// handed over in a copy that gives it.
//
// A picture with alpha is drawn as it looks on a white page, whatever the
// context holds: StretchDIBits ignores alpha, and a caller that drew on a
// context of its own may not have filled it.
HRESULT Draw(LONG hDib, LONG hdc, LONG xDest, LONG yDest, LONG destWidth, LONG destHeight, LONG xSrc,
             LONG ySrc, LONG srcWidth, LONG srcHeight) {
  if (DibCarriesAlpha(hDib)) {
    const PictureBlock flat(ConvertDibTo24(hDib));
    if (!flat) return 0;
    return Draw(flat.get(), hdc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight);
  }
  LockedDib dib(hDib, dib::kAllDepths);
  HDC dc = reinterpret_cast<HDC>(static_cast<intptr_t>(hdc));
  SetStretchBltMode(dc, HALFTONE);
  // The rows follow the header's own size and the colour table the block
  // really has (three masks after a 40-byte BI_BITFIELDS header).
  const uint8_t* rows = nullptr;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.bytes());
  // An RLE header and table: at most a V5 header and 256 entries.
  alignas(4) uint8_t header[dib::kV5HeaderSize + 256 * 4];
  if (dib.ok()) {
    rows = dib.bytes() + dib.layout().pixelOffset;
  } else if (dib.status() == dib::DibStatus::kCompressionNotHandled) {
    dib::RleLayout rle;
    if (dib::ValidateRle(dib.block(), rle) != dib::DibStatus::kOk) return 0;
    rows = dib.bytes() + rle.streamOffset;
    if (info->bmiHeader.biSizeImage == 0) {
      std::memcpy(header, dib.bytes(), rle.streamOffset);
      reinterpret_cast<BITMAPINFOHEADER*>(header)->biSizeImage = rle.streamBytes;
      info = reinterpret_cast<const BITMAPINFO*>(header);
    }
  }
  if (!rows) return 0;
  const int lines = StretchDIBits(dc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight,
                                  rows, info, DIB_RGB_COLORS, SRCCOPY);
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
