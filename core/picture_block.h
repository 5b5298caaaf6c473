// The owner of a picture block.
//
// A PictureBlock holds one handle value as the module passes blocks around
// (a signed 32-bit value: 0 is no image, a negative value is a failure
// value of the imaging library and owns nothing, a positive value is a
// movable global block holding a packed DIB). It owns a positive handle
// and frees it through the imaging library (which frees the library's
// blocks and blocks the system made alike) when it is destroyed or reset.
// release() hands the block on without freeing it.
//
// Replacing a block (assigning another owner to this one) is where a
// script's loops leak or crash, so it follows one rule: the old block is
// freed only when the module made it (a copy, a loaded picture, a
// modifier's result) and never lent it out through a getter (lend()).
// A block taken over from a caller (Taken), or one a caller has seen, is
// left to the caller, who answers for it once it is replaced.
//
// The owners together keep one process-wide record of the blocks they
// hold, guarded for use from any apartment: a block handed in that a live
// owner already holds is copied instead of claimed twice, the check and
// the claim made under one lock; and a block leaves the record only once
// it is freed, so a handle read in one apartment can never be taken over
// in another after its owner freed it.
#pragma once

#include <cstdint>
#include <utility>

namespace qb {

class PictureBlock {
 public:
  PictureBlock() = default;
  // Takes over a block the module made (a library block, an allocation).
  explicit PictureBlock(int32_t handle);
  ~PictureBlock() { reset(); }
  // A move hands the claim on as it is, lent or not.
  PictureBlock(PictureBlock&& other) noexcept
      : m_handle(std::exchange(other.m_handle, 0)), m_callers(std::exchange(other.m_callers, false)) {}
  // Replaces the block held by other's, letting go of the old one by the
  // rule above.
  PictureBlock& operator=(PictureBlock&& other) noexcept {
    if (this != &other) {
      LetGoReplaced();
      m_handle = std::exchange(other.m_handle, 0);
      m_callers = std::exchange(other.m_callers, false);
    }
    return *this;
  }
  PictureBlock(const PictureBlock&) = delete;
  PictureBlock& operator=(const PictureBlock&) = delete;

  // A byte-exact copy of the block h (DuplicateDib), owned; empty when h is
  // not a block or memory runs out.
  static PictureBlock CopyOf(int32_t h);
  // A handle a caller hands over (AttachImage, put_Handle, the handle
  // setters). A block that a live owner already holds is copied (empty when
  // the copy cannot be made); a block another owner handed on (handOver) is
  // taken as the module's own; any other value, 0 and failure values
  // included, is taken over as the caller's.
  static PictureBlock Taken(int32_t h);

  int32_t get() const { return m_handle; }
  // True when the owner holds a block (a positive handle).
  explicit operator bool() const { return m_handle > 0; }

  // The handle for a getter that gives it to a caller: from now on the
  // block is lent, and a replacement leaves it to the caller.
  int32_t lend();
  // Ends a loan made to the module itself: a modifier or the renderer that
  // reads a picture's handle through its getter for the length of one call
  // lends nothing to anyone.
  static void EndLoan(int32_t h);

  // Gives the handle up without freeing it; the owner is then empty.
  int32_t release();
  // Gives the handle up to another owner of the module, who takes it by
  // Taken as a block the module made (a modifier's result handed to its
  // picture, a pasted copy). The block stays in the record meanwhile.
  int32_t handOver();
  // Frees the block held (if any), lent or not, and takes `handle` over as
  // a block the module made.
  void reset(int32_t handle = 0);

  // Whether some live owner of the module holds the block h.
  static bool IsOwned(int32_t h);
  // How many blocks the owners of the module hold (for leak checks).
  static size_t OwnedCount();

 private:
  PictureBlock(int32_t handle, bool callers) : m_handle(handle), m_callers(callers) {}
  void LetGoReplaced();

  int32_t m_handle = 0;
  bool m_callers = false;  // taken over from a caller: never freed on replacement
};

}  // namespace qb
