// Failure values of the imaging library. Every function that yields a
// handle returns either a positive block handle or one of these negative
// values; 0 is never a block.
#pragma once

#include <new>
#include <stdexcept>

namespace rastrum {

enum Failure : int {
  kBadArgument = -1,    // null or negative handle, null path, bad size or level
  kCannotOpen = -2,     // the file cannot be opened or read (missing, a directory)
  kUnknownFormat = -3,  // no decoder recognises the content, or no encoder the extension
  kCorruptData = -4,    // the file or block is malformed or truncated
  kOutOfMemory = -5,    // an allocation failed
  kTooLarge = -6,       // the picture's block would not fit in a 32-bit process
  kCannotWrite = -7,    // the target cannot be written or replaced
  kNotAvailable = -8,   // the operation is not provided by this build
  kDecoderMissing = -9, // the format's decoder library is not installed (HEIC and
                        // AVIF: libheif.dll and libde265.dll beside Rastrum.dll)
};

// Runs `body`, which returns kOk or a failure: an allocation that fails
// inside it (std::bad_alloc, or std::length_error from a vector asked to
// outgrow its limit) becomes kOutOfMemory.
template <typename Body>
int OutOfMemoryGuarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

}  // namespace rastrum
