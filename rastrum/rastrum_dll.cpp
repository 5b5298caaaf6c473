// Rastrum.dll entry points. The codecs and pixel operations are not part of
// this build yet: every operation answers kNotAvailable, and the memory
// functions do their real work so that callers can hand blocks back.
#include <windows.h>

#include "core/imaging_library.h"
#include "rastrum/rastrum_errors.h"

using rastrum::kBadArgument;
using rastrum::kNotAvailable;

extern "C" {

int32_t __stdcall NimboLoadFile(const char* path) { return path ? kNotAvailable : kBadArgument; }

int32_t __stdcall NimboSaveAsFile(int32_t handle, const char* path) {
  return (handle > 0 && path) ? kNotAvailable : kBadArgument;
}

// Frees any movable global block, whoever allocated it. 0 and failure values
// are ignored, so a field holding the result of a failed load can be passed.
int32_t __stdcall NimboFreeMemory(int32_t handle) {
  if (handle <= 0) return 0;
  return GlobalFree(reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(handle))) == nullptr ? 1 : kBadArgument;
}

int32_t __stdcall NimboResize(int32_t, int32_t, int32_t source, int32_t) {
  return source > 0 ? kNotAvailable : kBadArgument;
}

int32_t __stdcall NimboRotate(int32_t, int32_t source) { return source > 0 ? kNotAvailable : kBadArgument; }

int32_t __stdcall NimboBlur(int32_t, int32_t source) { return source > 0 ? kNotAvailable : kBadArgument; }

int32_t __stdcall NimboAddText(const AddTextRecord*, int32_t source) {
  return source > 0 ? kNotAvailable : kBadArgument;
}

int32_t __stdcall NimboAddFrame(int32_t source, int32_t, int32_t, int32_t) {
  return source > 0 ? kNotAvailable : kBadArgument;
}

int32_t __stdcall NimboAddPic(int32_t, int32_t, int32_t base, int32_t, int32_t) {
  return base > 0 ? kNotAvailable : kBadArgument;
}

int32_t __stdcall NimboTrueClr2Gray(int32_t mask) {
  if (mask == 0) return 0;
  return mask > 0 ? kNotAvailable : kBadArgument;
}

}  // extern "C"
