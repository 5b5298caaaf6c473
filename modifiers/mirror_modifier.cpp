#include "modifiers/mirror_modifier.h"

#include <algorithm>
#include <cstring>

#include "base/portable/work_pool.h"
#include "com/resource.h"
#include "core/block_recycler.h"
#include "modifiers/portable/mirror.h"

namespace qb {
namespace {

// The flipped picture in a new block of the source's size; empty when the
// block cannot be allocated. MirrorDib writes every byte of it, or, for a
// source it refuses, none: the block is then 0.
PictureBlock Flipped(const LockedDib& source, int32_t direction) {
  WaitCursor wait;
  PictureBlock flipped(FromHGlobal(NewPictureBlock(source.size())));
  if (!flipped) return {};
  GlobalLockGuard out(ToHGlobal(flipped.get()));
  if (!out) return {};
  const std::span<uint8_t> to(out.bytes(), source.size());
  if (mirror::MirrorDib(source.block(), to, direction) != dib::DibStatus::kOk) std::memset(to.data(), 0, to.size());
  return flipped;
}

// The kept copy and the flipped picture made together, band by band of
// rows: each band of the source copied into the copy, then flipped from
// the source while the copy's reading has it in the cache; a large
// picture's two are written past the caches. The same bytes as the copy and
// MirrorDib's flip of it; for a sound block of plain rows (no RLE stream)
// and direction 1 or 2 only. False, with `kept` emptied, when it does not
// apply or memory fails.
bool CopyAndFlipInBands(int32_t handle, int32_t direction, PictureBlock& kept, PictureBlock& flipped) {
  constexpr size_t kBandBytes = size_t{256} << 10;
  if (direction != mirror::kLeftRight && direction != mirror::kTopBottom) return false;
  LockedDib from(handle, dib::kAllDepths);
  if (!from.ok()) return false;
  const dib::DibLayout& l = from.layout();
  if (l.compression != dib::kBiRgb && l.compression != dib::kBiBitfields) return false;
  // The copy it replaces goes first, so that its block can be the result's.
  kept = PictureBlock(FromHGlobal(NewPictureBlock(from.size())));
  WaitCursor wait;
  PictureBlock made(FromHGlobal(NewPictureBlock(from.size())));
  GlobalLockGuard copy(kept ? ToHGlobal(kept.get()) : nullptr), to(made ? ToHGlobal(made.get()) : nullptr);
  if (!copy || !to) {
    kept.reset();
    return false;
  }
  const size_t rowsEnd = size_t{l.pixelOffset} + l.imageBytes;
  std::memcpy(copy.bytes(), from.bytes(), l.pixelOffset);
  std::memcpy(copy.bytes() + rowsEnd, from.bytes() + rowsEnd, from.size() - rowsEnd);
  std::memcpy(to.bytes(), from.bytes(), l.pixelOffset);
  std::memset(to.bytes() + rowsEnd, 0, from.size() - rowsEnd);
  const int32_t bandRows = static_cast<int32_t>(std::max<size_t>(1, kBandBytes / std::max<uint32_t>(l.stride, 1)));
  const bool large = l.imageBytes >= mirror::kStreamingBytes;
  const mirror::Stores stores = large ? mirror::Stores::kStreamed : mirror::Stores::kCached;
  work::ForEachBandOfRows(l.width, l.height, bandRows, [&](int32_t first, int32_t rows) {
    const size_t offset = l.pixelOffset + size_t{l.stride} * static_cast<size_t>(first);
    const size_t bytes = size_t{l.stride} * static_cast<size_t>(rows);
    if (large) mirror::CopyPastCaches(from.bytes() + offset, copy.bytes() + offset, bytes);
    else std::memcpy(copy.bytes() + offset, from.bytes() + offset, bytes);
    const dib::ConstImageView band(from.bytes() + offset, l.width, rows, l.stride, l.bottomUp);
    if (direction == mirror::kLeftRight) {
      mirror::MirrorLeftRight(band, dib::ImageView(to.bytes() + offset, l.width, rows, l.stride, l.bottomUp),
                              l.bitCount, stores);
    } else {  // the band's rows go to the mirrored band, in reverse order
      const size_t mirrored = l.pixelOffset + size_t{l.stride} * static_cast<size_t>(l.height - first - rows);
      mirror::MirrorTopBottom(band, dib::ImageView(to.bytes() + mirrored, l.width, rows, l.stride, l.bottomUp),
                              stores);
    }
  });
  flipped = std::move(made);
  return true;
}

}  // namespace

STDMETHODIMP MirrorModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (PictureBlock picture; CopyAndFlipInBands(handle, m_direction, m_preHnd, picture))
    return FinishApply(source, std::move(picture), NamePolicy::kAlways, result);
  m_preHnd = PictureBlock::CopyOf(handle);
  if (handle == 0) return PlainFailure(E_UNEXPECTED);
  if (!m_preHnd) {
    ShowMessage(IDS_PREHND_COPY_FAILED);
    return PlainFailure(S_FALSE);
  }
  PictureBlock picture;
  {
    // The flip reads the kept copy, which holds exactly the source's bytes,
    // or, for an RLE block, whose stream no flip can walk, its plain rows;
    // a block whose header cannot be trusted is not flipped.
    PictureBlock plain(DecodeRleDib(m_preHnd.get()));
    LockedDib kept(plain ? plain.get() : m_preHnd.get(), dib::kAllDepths);
    if (!kept.ok()) return PlainFailure(E_UNEXPECTED);
    picture = Flipped(kept, m_direction);
  }
  return FinishApply(source, std::move(picture), NamePolicy::kAlways, result);
}

STDMETHODIMP MirrorModifier::put_Direction(LONG value) {
  m_direction = value;
  return S_OK;
}

}  // namespace qb
