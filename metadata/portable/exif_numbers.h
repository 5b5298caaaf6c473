// Number conversions shared by the EXIF parser and the camera data.
#pragma once

#include <climits>

namespace qb::exif {

// A double to int as the x86 conversion instruction does it: NaN and values
// outside the int range give INT_MIN (the "integer indefinite" value), so a
// hostile value has one defined result in both builds.
inline int ToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace qb::exif
