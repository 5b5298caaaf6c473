// Writing a whole file so that a failure never destroys the file that was
// there: the new bytes go to a temporary file beside the target, which
// then takes the target's place.
#pragma once

#include <cstdint>
#include <span>

namespace qb {

enum class ReplaceResult { kWritten, kCannotWrite, kReadOnlyTarget };

// path is in the system ANSI code page. A read-only target or a directory
// of that name is not replaced, as Windows refuses to replace them.
ReplaceResult ReplaceFileWith(const char* path, std::span<const uint8_t> bytes);

}  // namespace qb
