// The kept block lives in the imaging library, which makes most of the
// process's large pictures: these hand each call to it.
#include "core/block_recycler.h"

#include "base/block_handle.h"
#include "rastrum/rastrum.h"

namespace qb {

HGLOBAL NewPictureBlock(size_t bytes) {
  if (bytes == 0 || bytes > 0x7FFFFFFF) return nullptr;
  const int32_t h = NimboNewBlock(static_cast<uint32_t>(bytes));
  return h > 0 ? ToHGlobal(h) : nullptr;
}

void FreePictureBlock(int32_t h) {
  if (h > 0) NimboFreeBlock(h);
}

void ForgetKeptBlock(int32_t h) {
  if (h > 0) NimboForgetBlock(h);
}

bool GiveBackKeptBlock() { return NimboGiveBackBlock() != 0; }

}  // namespace qb
