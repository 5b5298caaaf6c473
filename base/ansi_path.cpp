#include "base/ansi_path.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <vector>

#include "base/files.h"
#include "base/resource_guards.h"
#include "base/text.h"

namespace qb {
namespace {

// The most a stand-in written in the temporary folder is carried over.
constexpr uint64_t kMaxStandInBytes = 1ULL << 30;

// The short form of a path, or empty when the system has none for it.
std::wstring ShortForm(const std::wstring& path) {
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::vector<wchar_t> buffer(n);
  const DWORD got = GetShortPathNameW(path.c_str(), buffer.data(), n);
  if (got == 0 || got >= n) return {};
  return std::wstring(buffer.data(), got);
}

// The narrow name of a folder (with its trailing separator, or empty for
// the current folder): its exact ANSI form or that of its short form.
bool NarrowFolder(const std::wstring& folder, ShortNames shortNames, std::string& narrow) {
  if (ExactAnsi(folder, narrow)) return true;
  if (shortNames == ShortNames::kNever) return false;
  const std::wstring shortFolder = ShortForm(folder);
  return !shortFolder.empty() && ExactAnsi(shortFolder, narrow);
}

size_t NameStart(std::wstring_view path) {
  const size_t separator = path.find_last_of(L"\\/:");
  return separator == std::wstring_view::npos ? 0 : separator + 1;
}

// The extension of the last component, with its dot; empty without one.
std::wstring_view ExtensionOf(std::wstring_view path) {
  const std::wstring_view name = path.substr(NameStart(path));
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
}

bool SameNoCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(folder, n);
}

// A name of plain ASCII characters, of its own in this process.
std::wstring StandInName(std::wstring_view extension) {
  static std::atomic<unsigned> counter{0};
  wchar_t name[48];
  swprintf(name, 48, L"~qb%lx-%x", GetCurrentProcessId(), counter.fetch_add(1) + 1);
  return std::wstring(name).append(extension);
}

// A stand-in in the folder, or in the temporary folder when the folder has
// no narrow name. Sets both forms of its path, and whether it lies in the
// folder itself.
bool PlaceStandIn(const std::wstring& folder, std::wstring_view extension, ShortNames shortNames,
                  std::wstring& wide, std::string& narrow, bool* inFolder = nullptr) {
  std::string narrowExtension, narrowFolder;
  if (!ExactAnsi(extension, narrowExtension)) return false;
  const std::wstring name = StandInName(extension);
  std::string narrowName;
  ExactAnsi(name, narrowName);
  const std::wstring folders[] = {folder, TempFolder()};
  for (const std::wstring& candidate : folders) {
    // An empty folder is the current one; an empty temporary folder is none.
    if (&candidate == &folders[1] && candidate.empty()) continue;
    if (!NarrowFolder(candidate, shortNames, narrowFolder)) continue;
    wide = candidate + name;
    narrow = narrowFolder + narrowName;
    if (inFolder) *inFolder = &candidate == &folders[0];
    return true;
  }
  return false;
}

}  // namespace

bool ExactAnsi(std::wstring_view path, std::string& narrow) {
  narrow.clear();
  if (path.empty()) return true;
  // UTF-8 as the ANSI code page spells everything but knows no flags.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  const int length = static_cast<int>(path.size());
  const int n = WideCharToMultiByte(CP_ACP, flags, path.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, path.data(), length, out.data(), n, nullptr,
                          utf8 ? nullptr : &usedDefault) != n || usedDefault)
    return false;
  std::wstring back;
  if (!ToWide(CP_ACP, out, back) || back != path) return false;
  narrow = std::move(out);
  return true;
}

AnsiReadPath::AnsiReadPath(std::wstring_view path, ShortNames shortNames) {
  if (ExactAnsi(path, m_narrow)) {
    m_ok = true;
    return;
  }
  const std::wstring wide(path);
  if (shortNames == ShortNames::kUse) {
    const std::wstring shortPath = ShortForm(wide);
    if (!shortPath.empty() && ExactAnsi(shortPath, m_narrow)) {
      m_ok = true;
      return;
    }
  }
  // A copy to read, in the temporary folder.
  std::wstring copy;
  if (!PlaceStandIn(TempFolder(), L".tmp", shortNames, copy, m_narrow)) return;
  if (!CopyFileW(wide.c_str(), copy.c_str(), TRUE)) return;
  m_copy = copy;
  SetFileAttributesW(m_copy.c_str(), FILE_ATTRIBUTE_NORMAL);
  m_ok = true;
}

AnsiReadPath::~AnsiReadPath() {
  if (!m_copy.empty()) DeleteFileW(m_copy.c_str());
}

AnsiWritePath::AnsiWritePath(std::wstring_view path, ShortNames shortNames) : m_target(path) {
  if (ExactAnsi(path, m_narrow)) {
    m_ok = true;
    return;
  }
  const std::wstring_view extension = ExtensionOf(path);
  if (shortNames == ShortNames::kUse) {
    // A new file is made first, so that it has a short name to write by.
    if (GetFileAttributesW(m_target.c_str()) == INVALID_FILE_ATTRIBUTES) {
      UniqueFile made(CreateFileW(m_target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
      if (made) m_created = m_target;
    }
    const std::wstring shortPath = ShortForm(m_target);
    // The library picks the format by the extension, which a short name
    // may cut (".jpeg" becomes ".JPE").
    if (!shortPath.empty() && SameNoCase(ExtensionOf(shortPath), extension) &&
        ExactAnsi(shortPath, m_narrow)) {
      m_ok = true;
      return;
    }
    if (!m_created.empty()) DeleteFileW(m_created.c_str());
    m_created.clear();
  }
  const std::wstring folder = m_target.substr(0, NameStart(m_target));
  m_ok = PlaceStandIn(folder, extension, shortNames, m_standIn, m_narrow, &m_standInBeside);
}

bool AnsiWritePath::Commit() {
  if (!m_ok || m_committed) return m_committed;
  if (!m_standIn.empty()) {
    // Moving over a read-only file or a folder would succeed on some
    // systems; a save never replaces them.
    const DWORD attributes = GetFileAttributesW(m_target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
      return false;
    if (m_standInBeside) {
      if (!PutInPlace(m_standIn.c_str(), m_target.c_str())) return false;
    } else {
      // A stand-in in the temporary folder may lie on another volume: its
      // bytes are written anew beside the target, which is then replaced.
      std::vector<uint8_t> bytes;
      if (ReadWholeFile(m_standIn.c_str(), bytes, kMaxStandInBytes) != ReadResult::kRead ||
          ReplaceFileWith(m_target.c_str(), bytes) != ReplaceResult::kWritten)
        return false;
      DeleteFileW(m_standIn.c_str());
      m_standIn.clear();
    }
  } else if (GetFileAttributesW(m_target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Written through a short name, the file may have taken that name as
    // its own; it gets its real one back.
    const std::wstring written = FromAnsi(m_narrow);
    if (written.empty() || !MoveFileExW(written.c_str(), m_target.c_str(), MOVEFILE_WRITE_THROUGH))
      return false;
  }
  m_committed = true;
  return true;
}

AnsiWritePath::~AnsiWritePath() {
  if (m_committed) return;
  if (!m_standIn.empty()) DeleteFileW(m_standIn.c_str());
  if (!m_created.empty()) DeleteFileW(m_created.c_str());
}

}  // namespace qb
