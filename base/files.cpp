#include "base/files.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "base/resource_guards.h"
#include "base/text.h"

namespace qb {
namespace {

bool WriteAll(const wchar_t* path, std::span<const uint8_t> bytes) {
  UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD wrote = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote != chunk) return false;
    done += wrote;
  }
  return FlushFileBuffers(file.get()) != 0;
}

// The attributes a replaced file keeps (read-only files are not replaced).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A file's permissions (its security descriptor's access list) as a
// self-relative descriptor; empty when they cannot be read.
std::vector<uint8_t> PermissionsOf(const wchar_t* path) {
  DWORD need = 0;
  GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &need);
  if (need == 0 || need > 1u << 20) return {};
  std::vector<uint8_t> descriptor(need);
  if (!GetFileSecurityW(path, DACL_SECURITY_INFORMATION, descriptor.data(), need, &need)) return {};
  return descriptor;
}

}  // namespace

ReadResult ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& data, uint64_t maxBytes) {
  data.clear();
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return ReadResult::kCannotOpen;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return ReadResult::kCannotOpen;
  if (static_cast<uint64_t>(size.QuadPart) > maxBytes || size.QuadPart > 0x7FFFFFFF)
    return ReadResult::kTooLarge;
  try {
    data.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return ReadResult::kOutOfMemory;
  }
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
    DWORD got = 0;
    if (!ReadFile(file.get(), data.data() + done, chunk, &got, nullptr)) {
      data.clear();
      return ReadResult::kCannotOpen;
    }
    if (got == 0) break;  // the file shrank while it was read
    done += got;
  }
  data.resize(done);
  return ReadResult::kRead;
}

ReadResult ReadWholeFile(const char* path, std::vector<uint8_t>& data, uint64_t maxBytes) {
  const std::wstring wide = path ? FromAnsi(path) : std::wstring();
  if (wide.empty()) {
    data.clear();
    return ReadResult::kCannotOpen;
  }
  return ReadWholeFile(wide.c_str(), data, maxBytes);
}

ReplaceResult ReplaceFileWith(const wchar_t* path, std::span<const uint8_t> bytes) {
  if (!path || !*path) return ReplaceResult::kCannotWrite;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return ReplaceResult::kReadOnlyTarget;
  std::wstring directory(path);
  const size_t slash = directory.find_last_of(L"\\/");
  directory = slash == std::wstring::npos ? std::wstring(L".") : directory.substr(0, slash + 1);
  wchar_t temp[MAX_PATH];
  if (!GetTempFileNameW(directory.c_str(), L"qbx", 0, temp)) return ReplaceResult::kCannotWrite;
  if (!WriteAll(temp, bytes) || !PutInPlace(temp, path)) {
    DeleteFileW(temp);
    return ReplaceResult::kCannotWrite;
  }
  return ReplaceResult::kWritten;
}

bool PutInPlace(const wchar_t* written, const wchar_t* target) {
  const DWORD attributes = GetFileAttributesW(target);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const std::vector<uint8_t> permissions = PermissionsOf(target);
    if (!ReplaceFileW(target, written, nullptr, 0, nullptr, nullptr)) return false;
    // ReplaceFileW gives the new file the old one's permissions and
    // attributes; where a system's ReplaceFileW only renames, they are put
    // back here (the file is ours now, so we may set them).
    if (!permissions.empty() && PermissionsOf(target) != permissions)
      SetFileSecurityW(target, DACL_SECURITY_INFORMATION, const_cast<uint8_t*>(permissions.data()));
    const DWORD kept = attributes & kKeptAttributes;
    const DWORD now = GetFileAttributesW(target);
    if (now != INVALID_FILE_ATTRIBUTES && (now & kKeptAttributes) != kept) {
      const DWORD wanted = (now & ~kKeptAttributes & ~FILE_ATTRIBUTE_NORMAL) | kept;
      SetFileAttributesW(target, wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
  }
  // Without MOVEFILE_REPLACE_EXISTING: a file that appears at target in the
  // meantime is not clobbered, and without MOVEFILE_COPY_ALLOWED nothing is
  // ever copied.
  return MoveFileExW(written, target, MOVEFILE_WRITE_THROUGH) != 0;
}

ReplaceResult ReplaceFileWith(const char* path, std::span<const uint8_t> bytes) {
  const std::wstring wide = path ? FromAnsi(path) : std::wstring();
  return wide.empty() ? ReplaceResult::kCannotWrite : ReplaceFileWith(wide.c_str(), bytes);
}

}  // namespace qb
