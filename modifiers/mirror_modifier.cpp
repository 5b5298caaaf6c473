#include "modifiers/mirror_modifier.h"

#include <cstring>

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
