// Whole files in and out.
//
// Reading takes the whole file into memory, up to a limit. Writing never
// destroys the file that was there when it fails: the new bytes go to a
// temporary file beside the target (same folder, so same volume), which
// then takes the target's place with ReplaceFileW. That keeps what the
// target was: its permissions, attributes, alternate streams and links.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qb {

enum class ReadResult { kRead, kCannotOpen, kTooLarge, kOutOfMemory };

// Reads the file at path into data, which is resized to what was read (a
// file that shrinks while it is read gives its remaining bytes). A file
// larger than maxBytes is not read. A narrow path is in the system ANSI
// code page.
ReadResult ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& data, uint64_t maxBytes);
ReadResult ReadWholeFile(const char* path, std::vector<uint8_t>& data, uint64_t maxBytes);

enum class ReplaceResult { kWritten, kCannotWrite, kReadOnlyTarget };

// A narrow path is in the system ANSI code page. A read-only target or a
// directory of that name is not replaced, as Windows refuses to replace
// them.
ReplaceResult ReplaceFileWith(const wchar_t* path, std::span<const uint8_t> bytes);
ReplaceResult ReplaceFileWith(const char* path, std::span<const uint8_t> bytes);

// Puts the whole file `written`, which lies in target's folder, at target:
// an existing target is replaced with ReplaceFileW (its security,
// attributes, streams and links are kept); only a target that does not
// exist yet is made by renaming. Never copies, never moves across volumes.
// On failure target is as it was and `written` is left to the caller.
bool PutInPlace(const wchar_t* written, const wchar_t* target);

}  // namespace qb
