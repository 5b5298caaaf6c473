#include "modifiers/crop_modifier.h"

#include <cstring>

#include "modifiers/portable/crop.h"

namespace qb {
namespace {

constexpr UINT kMoveableZeroInit = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A DIB section made from a header (and table) on the screen's context,
// with its pixel memory.
struct Section {
  UniqueGdi<HBITMAP> bitmap;
  uint8_t* bits = nullptr;
};

Section MakeSection(HDC screen, const void* header) {
  Section s;
  void* bits = nullptr;
  s.bitmap.reset(CreateDIBSection(screen, static_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS, &bits,
                                  nullptr, 0));
  if (s.bitmap) s.bits = static_cast<uint8_t*>(bits);
  return s;
}

// The cut-out as a new block: a 40-byte header and the rectangle's 24-bit
// rows. Empty when the source holds no sound picture, the rectangle has no
// area, or GDI or memory fails.
PictureBlock CropBlock(int32_t handle, const PixelRect& rect) {
  WaitCursor wait;
  if (handle == 0) return {};
  // The sections take 24-bit rows; other depths are converted first, and a
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
  uint8_t header[dib::kInfoHeaderSize];
  crop::WriteCropHeader(source.block(), *geometry, header);

  WindowDc screen(GetDC(nullptr));
  if (!screen) return {};
  Section to = MakeSection(screen.get(), header);
  Section from = MakeSection(screen.get(), source.bytes());
  if (!to.bits || !from.bits) return {};
  const dib::DibLayout& layout = source.layout();
  std::memcpy(from.bits, source.bytes() + layout.pixelOffset, layout.imageBytes);
  {
    MemoryDc fromDc(CreateCompatibleDC(screen.get())), toDc(CreateCompatibleDC(screen.get()));
    if (!fromDc || !toDc) return {};
    SelectedObject fromSelected(fromDc.get(), from.bitmap.get());
    SelectedObject toSelected(toDc.get(), to.bitmap.get());
    if (!fromSelected || !toSelected) return {};
    // Only the part of the rectangle that lies in the source is moved; the
    // rest of the fresh section stays zero.
    const PixelRange inside = ClipToPicture(rect, layout.width, layout.height);
    if (!inside.empty())
      BitBlt(toDc.get(), inside.x0 - rect.left, inside.y0 - rect.top, inside.x1 - inside.x0,
             inside.y1 - inside.y0, fromDc.get(), inside.x0, inside.y0, SRCCOPY);
  }
  GdiFlush();
  PictureBlock result(FromHGlobal(GlobalAlloc(kMoveableZeroInit, geometry->blockBytes)));
  if (!result) return {};
  GlobalLockGuard out(ToHGlobal(result.get()));
  if (!out) return {};
  std::memcpy(out.bytes(), header, sizeof(header));
  std::memcpy(out.bytes() + sizeof(header), to.bits, geometry->imageBytes);
  return result;
}

}  // namespace

STDMETHODIMP Crop::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const PixelRect rect{m_rectLeft, m_rectTop, m_rectWidth, m_rectHeight};
  PictureBlock block = CropBlock(ReadSourceHandle(source), rect);
  // The cut-out is always 24-bit, whatever the source's depth.
  return FinishApply(source, std::move(block), NamePolicy::kAlways, result,
                     GivenSize{m_rectHeight, m_rectWidth, 24});
}

}  // namespace qb
