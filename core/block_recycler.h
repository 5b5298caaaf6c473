// The module's side of the process's one kept picture block, which the
// imaging library holds (rastrum/kept_block.h tells how it works): the
// blocks the module makes for pictures come from it, and the large ones
// its owners free go back to it, so that the module's pictures and the
// library's share the one block.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "rastrum/kept_block.h"

namespace qb {

using rastrum::kIdleMilliseconds;
using rastrum::kKeepFrom;

// A movable block of exactly `bytes`, its contents undefined: the kept
// block when it has that size, otherwise a new one. Null when memory runs
// out.
HGLOBAL NewPictureBlock(size_t bytes);

// Frees a block of the module's owners (h > 0, unlocked): a large one is
// kept for the next picture of its size, any other freed.
void FreePictureBlock(int32_t h);

// A handle a caller hands in that is the kept block (a handle the caller
// read before its owner freed it) stops being kept: it is the caller's now,
// never handed out a second time.
void ForgetKeptBlock(int32_t h);

// Gives the kept block back to the system now; true when one was kept.
bool GiveBackKeptBlock();

}  // namespace qb
