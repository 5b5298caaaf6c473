// The owner of a picture block.
//
// A PictureBlock holds one handle value as the module passes blocks around
// (a signed 32-bit value: 0 is no image, a negative value is a failure
// value of the imaging library and owns nothing, a positive value is a
// movable global block holding a packed DIB). It owns a positive handle:
// when it lets go of one (reset, assignment, destruction) it frees the
// block through the imaging library, which frees the library's blocks and
// blocks the system made alike. release() hands the block on without
// freeing it.
//
// The owners together keep one process-wide record of the blocks they
// hold, guarded for use from any apartment, so that a method handed a
// block can tell whether another live owner already holds it (IsOwned)
// and take a copy instead of a second claim.
#pragma once

#include <cstdint>
#include <utility>

namespace qb {

class PictureBlock {
 public:
  PictureBlock() = default;
  // Takes the handle over.
  explicit PictureBlock(int32_t handle);
  ~PictureBlock() { reset(); }
  // A move hands the claim on as it is.
  PictureBlock(PictureBlock&& other) noexcept : m_handle(std::exchange(other.m_handle, 0)) {}
  PictureBlock& operator=(PictureBlock&& other) noexcept {
    if (this != &other) {
      reset();
      m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
  }
  PictureBlock(const PictureBlock&) = delete;
  PictureBlock& operator=(const PictureBlock&) = delete;

  // A byte-exact copy of the block h (DuplicateDib), owned; empty when h is
  // not a block or memory runs out.
  static PictureBlock CopyOf(int32_t h);
  // The same copy written over the block `spare` holds when that block has
  // exactly h's size (every byte is overwritten; the spare is then empty),
  // into a new block otherwise. Writing memory already in use spares the
  // system finding and clearing fresh pages for a large block, which costs
  // several times the copy itself.
  static PictureBlock CopyOf(int32_t h, PictureBlock& spare);

  int32_t get() const { return m_handle; }
  // True when the owner holds a block (a positive handle).
  explicit operator bool() const { return m_handle > 0; }

  // Gives the handle up without freeing it; the owner is then empty.
  int32_t release();
  // Frees the block held (if any) and takes `handle` over.
  void reset(int32_t handle = 0);

  // Whether some live owner of the module holds the block h.
  static bool IsOwned(int32_t h);
  // How many blocks the owners of the module hold (for leak checks).
  static size_t OwnedCount();

 private:
  int32_t m_handle = 0;
};

}  // namespace qb
