#include "core/picture_block.h"

#include <windows.h>

#include <new>
#include <unordered_map>

#include "core/block_recycler.h"
#include "core/packed_dib.h"
#include "rastrum/rastrum.h"

namespace qb {
namespace {

// What the record knows of a block an owner holds.
struct Entry {
  unsigned owners = 0;  // a block given to two owners by a careless caller is known while either lives
  unsigned loans = 0;   // getter calls that gave the handle out and were not ended by the module
  bool passing = false; // handed on from one owner of the module to the next (handOver)
};

// The record, under one lock. Every free of an owned block happens under
// the exclusive lock and before its entry goes, and copies of owned blocks
// are read under the shared lock, so no block is read, copied or claimed
// while it is being freed.
SRWLOCK g_ownedLock = SRWLOCK_INIT;

std::unordered_map<int32_t, Entry>& Owned() {
  static auto* owned = new std::unordered_map<int32_t, Entry>();  // lives as long as the process
  return *owned;
}

class Exclusive {
 public:
  Exclusive() { AcquireSRWLockExclusive(&g_ownedLock); }
  ~Exclusive() { ReleaseSRWLockExclusive(&g_ownedLock); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
};

class Shared {
 public:
  Shared() { AcquireSRWLockShared(&g_ownedLock); }
  ~Shared() { ReleaseSRWLockShared(&g_ownedLock); }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
};

// Under the exclusive lock.
void ClaimLocked(int32_t h) {
  try {
    ++Owned()[h].owners;
  } catch (const std::bad_alloc&) {
    // Out of memory: the block stays owned, only unknown to the record.
  }
}

void Claim(int32_t h) {
  Exclusive lock;
  ClaimLocked(h);
}

// Under the exclusive lock.
void UnclaimLocked(int32_t h) {
  auto it = Owned().find(h);
  if (it != Owned().end() && --it->second.owners == 0) Owned().erase(it);
}

// Frees the block, then takes it out of the record, in one step.
void FreeAndUnclaim(int32_t h) {
  Exclusive lock;
  FreePictureBlock(h);
  UnclaimLocked(h);
}

}  // namespace

PictureBlock::PictureBlock(int32_t handle) : m_handle(handle) {
  if (m_handle > 0) Claim(m_handle);
}

PictureBlock PictureBlock::CopyOf(int32_t h) {
  int32_t copy;
  {
    Shared lock;  // an owned block is not freed while it is copied
    copy = DuplicateDib(h);
  }
  return PictureBlock(copy);
}

PictureBlock PictureBlock::Taken(int32_t h) {
  if (h <= 0) return PictureBlock(h, true);
  Exclusive lock;
  auto it = Owned().find(h);
  if (it == Owned().end()) {
    ForgetKeptBlock(h);
    ClaimLocked(h);
    return PictureBlock(h, true);
  }
  if (it->second.passing) {
    it->second.passing = false;
    return PictureBlock(h, false);
  }
  const int32_t copy = DuplicateDib(h);
  if (copy > 0) ClaimLocked(copy);
  return PictureBlock(copy, false);
}

int32_t PictureBlock::lend() {
  if (m_handle > 0) {
    Exclusive lock;
    auto it = Owned().find(m_handle);
    if (it != Owned().end()) ++it->second.loans;
  }
  return m_handle;
}

void PictureBlock::EndLoan(int32_t h) {
  if (h <= 0) return;
  Exclusive lock;
  auto it = Owned().find(h);
  if (it != Owned().end() && it->second.loans > 0) --it->second.loans;
}

int32_t PictureBlock::release() {
  const int32_t h = std::exchange(m_handle, 0);
  m_callers = false;
  if (h > 0) {
    Exclusive lock;
    UnclaimLocked(h);
  }
  return h;
}

int32_t PictureBlock::handOver() {
  const int32_t h = std::exchange(m_handle, 0);
  m_callers = false;
  if (h > 0) {
    Exclusive lock;
    auto it = Owned().find(h);
    if (it != Owned().end()) it->second.passing = true;
  }
  return h;
}

void PictureBlock::reset(int32_t handle) {
  const int32_t old = std::exchange(m_handle, handle);
  m_callers = false;
  if (handle > 0 && handle != old) Claim(handle);
  if (old > 0 && old != handle) FreeAndUnclaim(old);
}

void PictureBlock::LetGoReplaced() {
  const int32_t h = std::exchange(m_handle, 0);
  const bool callers = std::exchange(m_callers, false);
  if (h <= 0) return;
  Exclusive lock;
  auto it = Owned().find(h);
  const bool lent = it != Owned().end() && it->second.loans > 0;
  if (!callers && !lent) FreePictureBlock(h);
  UnclaimLocked(h);
}

bool PictureBlock::IsOwned(int32_t h) {
  if (h <= 0) return false;
  Shared lock;
  return Owned().count(h) != 0;
}

size_t PictureBlock::OwnedCount() {
  Shared lock;
  return Owned().size();
}

}  // namespace qb
