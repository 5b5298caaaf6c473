// Binding to the imaging library Rastrum.dll, imported by name.
//
// Handles are movable global blocks holding a packed DIB, passed as signed
// 32-bit values: a positive value is a new block that belongs to the caller,
// a negative value is one of the library's failure values (rastrum_errors.h).
// Input handles stay the caller's; the library never frees them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Text drawing request for NimboAddText; valid for the duration of the call.
#pragma pack(push, 4)
struct AddTextRecord {
  const wchar_t* text;  // UTF-16, NUL-terminated
  LOGFONTW font;
  COLORREF color;
  int32_t reserved;  // always 0
  int32_t x;
  int32_t y;
};
#pragma pack(pop)
static_assert(sizeof(AddTextRecord) == 112, "AddTextRecord is a 112-byte record");
static_assert(offsetof(AddTextRecord, font) == 4);
static_assert(offsetof(AddTextRecord, color) == 96);
static_assert(offsetof(AddTextRecord, x) == 104);
static_assert(offsetof(AddTextRecord, y) == 108);

extern "C" {
int32_t __stdcall NimboLoadFile(const char* path);
int32_t __stdcall NimboSaveAsFile(int32_t handle, const char* path);
int32_t __stdcall NimboFreeMemory(int32_t handle);
// An image file held in memory, decoded as NimboLoadFile decodes a file:
// the same formats, limits and failure values.
int32_t __stdcall NimboLoadMemory(const uint8_t* data, uint32_t size);
// Encodes a block as a save to `name` would (the format from its
// extension), lossy formats at quality 1..100. The result is a new block
// holding the file's length (32 bits, little-endian) followed by its bytes,
// freed with NimboFreeMemory; or a failure value.
int32_t __stdcall NimboSaveAsMemory(int32_t handle, const char* name, int32_t quality);
int32_t __stdcall NimboResize(int32_t width, int32_t height, int32_t source, int32_t mode);
int32_t __stdcall NimboRotate(int32_t angle, int32_t source);
int32_t __stdcall NimboBlur(int32_t level, int32_t source);
int32_t __stdcall NimboAddText(const AddTextRecord* record, int32_t source);
int32_t __stdcall NimboAddFrame(int32_t source, int32_t frame1, int32_t frame2, int32_t reserved);
int32_t __stdcall NimboAddPic(int32_t x, int32_t y, int32_t base, int32_t overlay, int32_t mask);
int32_t __stdcall NimboTrueClr2Gray(int32_t mask);
// Ends the library's worker threads (the next call that needs them starts
// them again); the library stays loaded while it has workers, so a module
// that loads it calls this before it is itself unloaded. Never from DllMain.
void __stdcall NimboEndWorkers();

// The library's worker threads, shared with modules that load it, so that
// a process has one pool. NimboForEachRange runs body(context, begin, end)
// over [0, count) in ranges of at least `grain` items on the caller and the
// workers (qb::work::ForEachRange); a body returns 0, or anything else to
// report a failure, after which the ranges not yet begun are skipped.
// Returns 1 when every range ran and succeeded, 0 otherwise. A body never
// lets an exception out: it crosses no module boundary.
typedef int32_t(__cdecl* NimboRangeBody)(void* context, int64_t begin, int64_t end);
int32_t __stdcall NimboForEachRange(int64_t count, int64_t grain, NimboRangeBody body, void* context);
// The threads that share a call, and the choice of it (0: the machine's
// processors), as qb::work::ThreadCount and SetThreadCount.
int32_t __stdcall NimboThreadCount();
void __stdcall NimboSetThreadCount(int32_t threads);

// The process's one kept picture block (rastrum/kept_block.h), for modules
// that make pictures of their own. NimboNewBlock gives a movable block of
// exactly `bytes` (contents undefined; the kept block when it has that
// size), or a failure value. NimboFreeBlock frees a block, keeping a large
// one for the next picture of its size; NimboForgetBlock makes a block a
// caller was handed stop being kept; NimboGiveBackBlock frees the kept
// block now and returns 1 when there was one.
int32_t __stdcall NimboNewBlock(uint32_t bytes);
void __stdcall NimboFreeBlock(int32_t handle);
void __stdcall NimboForgetBlock(int32_t handle);
int32_t __stdcall NimboGiveBackBlock();
}
