#include "core/picture_block.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <unordered_map>

#include "core/packed_dib.h"
#include "rastrum/rastrum.h"

namespace qb {
namespace {

// Blocks held by owners, with the number of owners of each (a block handed
// to two owners by a careless caller is still known while either lives).
SRWLOCK g_ownedLock = SRWLOCK_INIT;

std::unordered_map<int32_t, unsigned>& Owned() {
  static auto* owned = new std::unordered_map<int32_t, unsigned>();  // lives as long as the process
  return *owned;
}

void Claim(int32_t h) {
  AcquireSRWLockExclusive(&g_ownedLock);
  try {
    ++Owned()[h];
  } catch (const std::bad_alloc&) {
    // Out of memory: the block stays owned, only unknown to IsOwned.
  }
  ReleaseSRWLockExclusive(&g_ownedLock);
}

void Unclaim(int32_t h) {
  AcquireSRWLockExclusive(&g_ownedLock);
  auto it = Owned().find(h);
  if (it != Owned().end() && --it->second == 0) Owned().erase(it);
  ReleaseSRWLockExclusive(&g_ownedLock);
}

}  // namespace

PictureBlock::PictureBlock(int32_t handle) : m_handle(handle) {
  if (m_handle > 0) Claim(m_handle);
}

PictureBlock PictureBlock::CopyOf(int32_t h) { return PictureBlock(DuplicateDib(h)); }

PictureBlock PictureBlock::CopyOf(int32_t h, PictureBlock& spare) {
  if (h > 0 && spare) {
    const SIZE_T n = GlobalSize(ToHGlobal(h));
    if (n != 0 && GlobalSize(ToHGlobal(spare.get())) == n) {
      GlobalLockGuard to(ToHGlobal(spare.get()));
      GlobalLockGuard from(ToHGlobal(h));
      if (to && from) {
        std::memcpy(to.get(), from.get(), n);
        return std::move(spare);
      }
    }
  }
  return CopyOf(h);
}

int32_t PictureBlock::release() {
  const int32_t h = std::exchange(m_handle, 0);
  if (h > 0) Unclaim(h);
  return h;
}

void PictureBlock::reset(int32_t handle) {
  const int32_t old = std::exchange(m_handle, handle);
  if (handle > 0 && handle != old) Claim(handle);
  if (old > 0 && old != handle) {
    Unclaim(old);
    NimboFreeMemory(old);
  }
}

bool PictureBlock::IsOwned(int32_t h) {
  if (h <= 0) return false;
  AcquireSRWLockShared(&g_ownedLock);
  const bool owned = Owned().count(h) != 0;
  ReleaseSRWLockShared(&g_ownedLock);
  return owned;
}

size_t PictureBlock::OwnedCount() {
  AcquireSRWLockShared(&g_ownedLock);
  const size_t n = Owned().size();
  ReleaseSRWLockShared(&g_ownedLock);
  return n;
}

}  // namespace qb
