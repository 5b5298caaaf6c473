// Helpers for PackedDib blocks: movable global memory blocks holding a packed
// DIB (header, optional colour table, rows; layout in dib_format.h).
//
// Handles travel through every interface as signed 32-bit values: 0 is no
// image, a positive value is a block, a negative value is a failure value
// from the imaging library and is never locked, copied or drawn; every helper
// here treats it like 0. Helpers that return a handle return a new block that
// belongs to the caller (hold it in a PictureBlock), or 0.
// A block is locked only for the length of one call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/block_handle.h"
#include "base/portable/dib_format.h"
#include "base/resource_guards.h"

namespace qb {

// A byte-exact copy of the whole allocation (GlobalSize bytes, slack
// included) in a new GMEM_MOVEABLE block (NewPictureBlock); h is unchanged.
// 0 for a handle that is not a block or when memory runs out.
int32_t DuplicateDib(int32_t h);

// Width and height as the header gives them: signed 32-bit values from an
// info header (size 40, 108 or 124), the unsigned 16-bit values at offsets 4
// and 6 from any other. 0 when h is not a block or is too short for the
// field.
int32_t DibWidth(int32_t h);
int32_t DibHeight(int32_t h);

// The first pixel row of a locked block whose rows follow the header
// directly: p + biSize. Use LockedDib for blocks that may carry a table.
uint8_t* DibBits(void* lockedBlock);

// A device-dependent bitmap of the screen's format made from the block,
// through `palette` (may be null) realised as the foreground palette. The
// caller owns the bitmap. Null when h is not a sound block or GDI fails.
HBITMAP DibToBitmap(int32_t h, HPALETTE palette);

// A new bottom-up 24-bit block with a 40-byte header and no colour table
// holding the picture of h (any depth the validator accepts, top-down
// included, and RLE blocks), resolution copied; a picture with alpha
// flattened onto white, or its colours as they are with kDrop. 0 when h is
// not a sound block or memory runs out.
int32_t ConvertDibTo24(int32_t h, dib::AlphaRule alpha = dib::AlphaRule::kFlattenOntoWhite);

// Whether h is a sound block of a picture with alpha (dib::CarriesAlpha).
bool DibCarriesAlpha(int32_t h);

// Writes the colours of `colours`, a 24-bit block, into `withAlpha`, a
// picture with alpha of the same size, leaving its alpha as it is. False,
// writing nothing, when either block is not such or their sizes differ.
bool PutColoursBack(int32_t colours, int32_t withAlpha);

// For an RLE8 or RLE4 block (dib::ValidateRle), a new plain block of the
// same depth and colour table holding its indices (dib::DecodeRle), for
// pixel code that cannot walk the stream. 0 when h is no sound RLE block or
// memory runs out.
int32_t DecodeRleDib(int32_t h);

// A block locked for one operation and checked against its GlobalSize for
// the depths the operation handles. The lock is released when this goes out
// of scope. A handle <= 0, or one that does not lock, is not locked and
// reports kTooSmallForHeader (it has no readable bytes).
class LockedDib {
 public:
  LockedDib(int32_t handle, dib::DepthSet handled);
  LockedDib(const LockedDib&) = delete;
  LockedDib& operator=(const LockedDib&) = delete;

  bool locked() const { return static_cast<bool>(m_lock); }
  bool ok() const { return m_status == dib::DibStatus::kOk; }
  dib::DibStatus status() const { return m_status; }
  // Meaningful only when ok().
  const dib::DibLayout& layout() const { return m_layout; }

  // The whole block, GlobalSize bytes; empty when not locked.
  std::span<uint8_t> block() const { return {m_lock.bytes(), m_size}; }
  uint8_t* bytes() const { return m_lock.bytes(); }
  size_t size() const { return m_size; }
  // Rows of the picture; only when ok().
  dib::ImageView pixels() const { return dib::PixelsOf(m_lock.bytes(), m_layout); }

 private:
  GlobalLockGuard m_lock;
  size_t m_size = 0;
  dib::DibStatus m_status = dib::DibStatus::kTooSmallForHeader;
  dib::DibLayout m_layout;
};

}  // namespace qb
