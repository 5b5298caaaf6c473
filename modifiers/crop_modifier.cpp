#include "modifiers/crop_modifier.h"

#include <cstring>

#include "core/block_recycler.h"
#include "modifiers/portable/crop.h"

namespace qb {
namespace {

constexpr UINT kMoveableZeroInit = GMEM_MOVEABLE | GMEM_ZEROINIT;

// The cut-out of a picture with alpha, with its alpha: a 32-bit block whose
// pixels outside the source are transparent.
PictureBlock CropWithAlpha(int32_t handle, const PixelRect& rect) {
  LockedDib source(handle, dib::kDepth32);
  if (!source.ok() || rect.width < 1 || rect.height < 1) return {};
  const auto size = dib::PackedDibSize(rect.width, rect.height, 32);
  if (!size) return {};
  PictureBlock result(FromHGlobal(GlobalAlloc(kMoveableZeroInit, *size)));
  if (!result) return {};
  GlobalLockGuard out(ToHGlobal(result.get()));
  if (!out) return {};
  dib::InfoHeaderFields fields;
  fields.width = rect.width;
  fields.height = rect.height;
  fields.bitCount = 32;
  fields.sizeImage = *size - dib::kInfoHeaderSize;
  fields.xPelsPerMeter = dib::LoadI32(source.bytes() + 24);
  fields.yPelsPerMeter = dib::LoadI32(source.bytes() + 28);
  dib::WriteInfoHeader(std::span<uint8_t, dib::kInfoHeaderSize>(out.bytes(), dib::kInfoHeaderSize), fields);
  const dib::ImageView rows(out.bytes() + dib::kInfoHeaderSize, rect.width, rect.height,
                            static_cast<uint32_t>(rect.width) * 4, true);
  crop::CopyClipped(source.pixels(), rows, rect.left, rect.top, 4);
  return result;
}

// The cut-out as a new block: a 40-byte header and the rectangle's 24-bit
// rows (32-bit with alpha for a picture with alpha); the part of the
// rectangle outside the source is 0. Empty when the source holds no sound
// picture, the rectangle has no area, or memory fails.
PictureBlock CropBlock(int32_t handle, const PixelRect& rect) {
  WaitCursor wait;
  if (handle == 0) return {};
  if (DibCarriesAlpha(handle)) return CropWithAlpha(handle, rect);
  // The cut takes 24-bit rows; other depths are converted first, and a
  // block whose header claims more than it holds is never read.
  PictureBlock converted;
  if (!TakesAsItIs(handle, dib::kDepth24)) {
    converted.reset(ConvertDibTo24(handle));
    if (!converted) return {};
  }
  LockedDib source(converted ? converted.get() : handle, dib::kDepth24);
  if (!source.ok()) return {};
  const std::optional<crop::CropGeometry> geometry = crop::CropSize(rect.width, rect.height);
  if (!geometry) return {};
  // CropDib writes every byte of the block.
  PictureBlock result(FromHGlobal(NewPictureBlock(geometry->blockBytes)));
  if (!result) return {};
  GlobalLockGuard out(ToHGlobal(result.get()));
  if (!out) return {};
  if (crop::CropDib(source.block(), rect, std::span<uint8_t>(out.bytes(), geometry->blockBytes)) != dib::DibStatus::kOk)
    return {};
  return result;
}

}  // namespace

STDMETHODIMP Crop::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const PixelRect rect{m_rectLeft, m_rectTop, m_rectWidth, m_rectHeight};
  const int32_t handle = ReadSourceHandle(source);
  // The cut-out is 24-bit whatever the source's depth, unless it keeps the
  // source's alpha.
  const int32_t bits = DibCarriesAlpha(handle) ? 32 : 24;
  PictureBlock block = CropBlock(handle, rect);
  return FinishApply(source, std::move(block), NamePolicy::kAlways, result,
                     GivenSize{m_rectHeight, m_rectWidth, bits});
}

}  // namespace qb
