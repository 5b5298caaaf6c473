// What a process holds, counted the way Wine lets a test see it. Wine
// answers the private-bytes counter, GetProcessHandleCount and
// GetGuiResources with 0, so the counts walk the address space and ask
// about every handle value (Wine's GDI calls take a handle's index without
// its generation). Shared by the Windows test program and the soak.
#pragma once

#include <windows.h>

namespace qbtest {

// Committed private memory.
inline SIZE_T PrivateBytes() {
  SIZE_T bytes = 0;
  MEMORY_BASIC_INFORMATION m;
  for (char* p = nullptr; VirtualQuery(p, &m, sizeof m) == sizeof m;) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) bytes += m.RegionSize;
    char* next = static_cast<char*>(m.BaseAddress) + m.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return bytes;
}

// Kernel handles.
inline int KernelHandles() {
  int n = 0;
  DWORD flags;
  for (UINT_PTR i = 4; i < 0x10000; i += 4) n += GetHandleInformation(reinterpret_cast<HANDLE>(i), &flags) != 0;
  return n;
}

// GDI objects. Wine caches the DCs that GetDC hands out, each with its
// visible region, and keeps more of them after several threads asked at
// once: a count that must not see that leaves DCs and regions out.
enum class GdiCount { kAll, kWithoutDcsAndRegions };
inline int GdiObjects(GdiCount which) {
  int n = 0;
  for (UINT_PTR i = 1; i < 0x10000; ++i) {
    const DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(i));
    n += type != 0 && (which == GdiCount::kAll || (type != OBJ_DC && type != OBJ_REGION));
  }
  return n;
}

}  // namespace qbtest
