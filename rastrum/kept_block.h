// One picture block kept back, for the whole process, for the next picture
// of its size.
//
// Fresh memory costs the system finding and clearing every page of it on
// first touch, more than the pass that then fills it; and a script that
// applies modifier after modifier, or loads photo after photo, frees a
// large picture just before it needs one of the same size. So a large
// block (kKeepFrom bytes or more) that an owner frees is kept instead, the
// one kept before it freed, and the next block of exactly its size is that
// block, whether the library makes the picture or a caller does (through
// NimboNewBlock). At most one block is kept; it goes back to the system
// once no block has been kept for kIdleMilliseconds (a thread-pool timer,
// which holds the library loaded while it waits, so that it never unloads
// under it).
#pragma once

#include <windows.h>

#include <cstddef>

namespace rastrum {

inline constexpr size_t kKeepFrom = size_t{1} << 20;
inline constexpr DWORD kIdleMilliseconds = 1000;

// A movable block of exactly `bytes`, its contents undefined: the kept
// block when it has that size, otherwise a new one. A large block of
// another size gives the kept one back first, so that the process never
// holds more than it would without it. Null when memory runs out.
HGLOBAL NewKeptOrFreshBlock(size_t bytes);

// Frees a block (unlocked): a large one is kept for NewKeptOrFreshBlock.
void KeepOrFreeBlock(HGLOBAL block);

// A block a caller hands in that is the kept one (a handle read before its
// owner freed it) stops being kept: it is the caller's now, never handed
// out a second time.
void ForgetKeptBlock(HGLOBAL block);

// Gives the kept block back to the system now; true when one was kept.
bool GiveBackKeptBlock();

}  // namespace rastrum
