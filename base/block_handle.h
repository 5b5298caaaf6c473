// A picture block crosses COM and the imaging library's exports as a
// 32-bit signed handle (LONG, int32_t): the value of its HGLOBAL. These two
// are the one conversion between the two forms; the server is a 32-bit
// module, so no bits are lost.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qb {

inline HGLOBAL ToHGlobal(std::int32_t handle) {
  return reinterpret_cast<HGLOBAL>(static_cast<std::intptr_t>(handle));
}
inline std::int32_t FromHGlobal(HGLOBAL block) {
  return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(block));
}

}  // namespace qb
