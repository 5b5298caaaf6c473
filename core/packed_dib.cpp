#include "core/packed_dib.h"

#include <cstring>

#include "base/portable/work_pool.h"
#include "core/block_recycler.h"

namespace qb {
namespace {

constexpr UINT kMoveableZeroInit = GMEM_MOVEABLE | GMEM_ZEROINIT;  // 0x0042

// The locked bytes of a block as a span over its whole allocation.
std::span<const uint8_t> BlockBytes(int32_t h, const GlobalLockGuard& lock) {
  if (!lock) return {};
  return {lock.bytes(), GlobalSize(ToHGlobal(h))};
}

HGLOBAL LockableHandle(int32_t h) { return h > 0 ? ToHGlobal(h) : nullptr; }

// SelectPalette/RealizePalette for the length of a scope; the palette that
// was selected before goes back in as it came out, as a foreground palette.
class SelectedPalette {
 public:
  SelectedPalette(HDC dc, HPALETTE palette) : m_dc(dc) {
    if (palette) {
      m_previous = SelectPalette(m_dc, palette, FALSE);
      RealizePalette(m_dc);
    }
  }
  ~SelectedPalette() {
    if (m_previous) SelectPalette(m_dc, m_previous, FALSE);
  }
  SelectedPalette(const SelectedPalette&) = delete;
  SelectedPalette& operator=(const SelectedPalette&) = delete;

 private:
  HDC m_dc;
  HPALETTE m_previous = nullptr;
};

}  // namespace

LockedDib::LockedDib(int32_t handle, dib::DepthSet handled) : m_lock(LockableHandle(handle)) {
  if (!m_lock) return;
  m_size = GlobalSize(ToHGlobal(handle));
  m_status = dib::Validate(std::span<const uint8_t>(m_lock.bytes(), m_size), handled, m_layout);
}

int32_t DuplicateDib(int32_t h) {
  const HGLOBAL source = LockableHandle(h);
  if (!source) return 0;
  const SIZE_T n = GlobalSize(source);
  if (n == 0) return 0;
  UniqueHGlobal copy(NewPictureBlock(n));  // every byte written below
  if (!copy) return 0;
  {
    GlobalLockGuard to(copy.get());
    GlobalLockGuard from(source);
    if (!to || !from) return 0;
    std::memcpy(to.get(), from.get(), n);
  }
  return FromHGlobal(copy.release());
}

int32_t DibWidth(int32_t h) {
  GlobalLockGuard lock(LockableHandle(h));
  return dib::WidthField(BlockBytes(h, lock));
}

int32_t DibHeight(int32_t h) {
  GlobalLockGuard lock(LockableHandle(h));
  return dib::HeightField(BlockBytes(h, lock));
}

uint8_t* DibBits(void* lockedBlock) {
  auto* p = static_cast<uint8_t*>(lockedBlock);
  return p + dib::LoadU32(p);
}

HBITMAP DibToBitmap(int32_t h, HPALETTE palette) {
  // A device bitmap has no alpha: a picture with alpha is made of its look
  // on a white page.
  if (DibCarriesAlpha(h)) {
    UniqueHGlobal flat(ToHGlobal(ConvertDibTo24(h)));
    return flat ? DibToBitmap(FromHGlobal(flat.get()), palette) : nullptr;
  }
  // GDI reads the header, table and rows by the header's word, so the block
  // is checked first; the rows are taken from after the colour table, which
  // is straight after the header for the blocks the system builds.
  LockedDib dib(h, dib::kAllDepths);
  if (!dib.ok()) return nullptr;
  WindowDc screen(GetDC(nullptr));
  if (!screen) return nullptr;
  SelectedPalette selected(screen.get(), palette);
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(dib.bytes());
  return CreateDIBitmap(screen.get(), header, CBM_INIT, dib.bytes() + dib.layout().pixelOffset,
                        reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
}

int32_t DecodeRleDib(int32_t h) {
  GlobalLockGuard lock(LockableHandle(h));
  const std::span<const uint8_t> block = BlockBytes(h, lock);
  dib::RleLayout layout;
  if (block.empty() || dib::ValidateRle(block, layout) != dib::DibStatus::kOk) return 0;
  UniqueHGlobal decoded(GlobalAlloc(kMoveableZeroInit, layout.decodedBytes));
  if (!decoded) return 0;
  {
    GlobalLockGuard out(decoded.get());
    if (!out || !dib::DecodeRle(block, layout, std::span<uint8_t>(out.bytes(), layout.decodedBytes))) return 0;
  }
  return FromHGlobal(decoded.release());
}

int32_t ConvertDibTo24(int32_t h, dib::AlphaRule alpha) {
  LockedDib source(h, dib::kAllDepths);
  if (source.status() == dib::DibStatus::kCompressionNotHandled) {
    UniqueHGlobal plain(ToHGlobal(DecodeRleDib(h)));
    return plain ? ConvertDibTo24(FromHGlobal(plain.get()), alpha) : 0;
  }
  if (!source.ok()) return 0;
  const auto size = dib::Converted24Size(source.layout());
  if (!size) return 0;
  UniqueHGlobal converted(GlobalAlloc(kMoveableZeroInit, *size));
  if (!converted) return 0;
  {
    GlobalLockGuard out(converted.get());
    if (!out) return 0;
    if (!dib::ConvertTo24(source.block(), source.layout(), std::span<uint8_t>(out.bytes(), *size), alpha)) {
      return 0;
    }
  }
  return FromHGlobal(converted.release());
}

bool DibCarriesAlpha(int32_t h) {
  LockedDib dib(h, dib::kDepth32);
  return dib.ok() && dib::CarriesAlpha(dib.block(), dib.layout());
}

bool PutColoursBack(int32_t colours, int32_t withAlpha) {
  LockedDib from(colours, dib::kDepth24);
  LockedDib to(withAlpha, dib::kDepth32);
  if (!from.ok() || !to.ok() || !dib::CarriesAlpha(to.block(), to.layout()) ||
      from.layout().width != to.layout().width || from.layout().height != to.layout().height)
    return false;
  const dib::ImageView src = from.pixels(), dst = to.pixels();
  work::ForEachRowBand(dst.width(), dst.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      const uint8_t* c = src.Row(y);
      uint8_t* d = dst.Row(y);
      for (int32_t x = 0; x < dst.width(); ++x, c += 3, d += 4) std::memcpy(d, c, 3);
    }
  });
  return true;
}

}  // namespace qb
