// The start of every benchmark that works on a picture through COM: COM
// on this thread as a script host has it, and one VuPicture.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "quillbox.h"

namespace bench {

// The picture, or nullptr after saying that Quillbox is not registered.
inline IVuPicture* StartWithPicture() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IVuPicture* picture = nullptr;
  if (FAILED(CoCreateInstance(CLSID_VuPicture, nullptr, CLSCTX_INPROC_SERVER, IID_IVuPicture,
                              reinterpret_cast<void**>(&picture)))) {
    std::printf("Quillbox is not registered\n");
    return nullptr;
  }
  return picture;
}

}  // namespace bench
