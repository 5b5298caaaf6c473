#include "base/files.h"

#include <windows.h>

#include "base/resource_guards.h"

#include <algorithm>
#include <string>

namespace qb {
namespace {

bool WriteAll(const char* path, std::span<const uint8_t> bytes) {
  qb::UniqueFile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD wrote = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote != chunk) return false;
    done += wrote;
  }
  return FlushFileBuffers(file.get()) != 0;
}

}  // namespace

ReplaceResult ReplaceFileWith(const char* path, std::span<const uint8_t> bytes) {
  if (!path || !*path) return ReplaceResult::kCannotWrite;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return ReplaceResult::kReadOnlyTarget;
  std::string directory(path);
  const size_t slash = directory.find_last_of("\\/");
  directory = slash == std::string::npos ? std::string(".") : directory.substr(0, slash + 1);
  char temp[MAX_PATH];
  if (!GetTempFileNameA(directory.c_str(), "qbx", 0, temp)) return ReplaceResult::kCannotWrite;
  if (!WriteAll(temp, bytes) ||
      !MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp);
    return ReplaceResult::kCannotWrite;
  }
  return ReplaceResult::kWritten;
}

}  // namespace qb
