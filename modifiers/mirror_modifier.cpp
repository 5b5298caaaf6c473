#include "modifiers/mirror_modifier.h"

#include "com/resource.h"
#include "modifiers/portable/mirror.h"

namespace qb {
namespace {

constexpr UINT kMoveableZeroInit = GMEM_MOVEABLE | GMEM_ZEROINIT;

// The flipped picture in a new block of the source's size; empty when the
// block cannot be allocated.
PictureBlock Flipped(const LockedDib& source, int32_t direction) {
  WaitCursor wait;
  PictureBlock flipped(FromHGlobal(GlobalAlloc(kMoveableZeroInit, source.size())));
  if (!flipped) return {};
  GlobalLockGuard out(ToHGlobal(flipped.get()));
  if (!out) return {};
  mirror::MirrorDib(source.block(), std::span<uint8_t>(out.bytes(), source.size()), direction);
  return flipped;
}

}  // namespace

STDMETHODIMP MirrorModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
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
