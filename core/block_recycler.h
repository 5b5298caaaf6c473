// One picture block kept back, for the whole process, for the next picture
// of its size.
//
// Fresh memory costs the system finding and clearing every page of it on
// first touch, more than the pass that then fills it; and a script that
// applies modifier after modifier frees a large picture just before it
// needs one of the same size. So a large block (kKeepFrom bytes or more)
// that an owner frees is kept instead, the one kept before it freed, and
// the next block of exactly its size is that block. At most one block is
// kept; it goes back to the system once no block has been kept for
// kIdleMilliseconds (a thread-pool timer, which holds the module loaded
// while it waits, so the module never unloads under it).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace qb {

inline constexpr size_t kKeepFrom = size_t{1} << 20;
inline constexpr DWORD kIdleMilliseconds = 1000;

// A movable block of exactly `bytes`, its contents undefined: the kept
// block when it has that size, otherwise a new one. A large block of
// another size gives the kept one back first, so that the module never
// holds more than a process without it would. Null when memory runs out.
HGLOBAL NewPictureBlock(size_t bytes);

// Frees a block of the module's owners (h > 0, unlocked): a large one is
// kept for NewPictureBlock, any other freed through the imaging library.
void FreePictureBlock(int32_t h);

// A handle a caller hands in that is the kept block (a handle the caller
// read before its owner freed it) stops being kept: it is the caller's now,
// never handed out a second time.
void ForgetKeptBlock(int32_t h);

// Gives the kept block back to the system now (before the imaging library
// makes a picture of its own); true when one was kept.
bool GiveBackKeptBlock();

}  // namespace qb
