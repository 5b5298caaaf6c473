// Narrow names for wide paths. The imaging library takes file names in the
// system ANSI code page, which cannot spell every name Windows allows (a
// Chinese name on a Western system). Such a file is reached through its
// short (8.3) name, or, where the volume keeps no short names, through a
// file with an ANSI-safe name that is copied or renamed with the wide API.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// Whether short names may be used; kNever stands for a volume without them.
enum class ShortNames { kUse, kNever };

// The ANSI form of path when the code page spells every character of it
// exactly (no best-fit substitutes, no default character).
bool ExactAnsi(std::wstring_view path, std::string& narrow);

// A narrow name for an existing file, to read it. A copy made for the read
// is removed with the object.
class AnsiReadPath {
 public:
  explicit AnsiReadPath(std::wstring_view path, ShortNames shortNames = ShortNames::kUse);
  ~AnsiReadPath();
  AnsiReadPath(const AnsiReadPath&) = delete;
  AnsiReadPath& operator=(const AnsiReadPath&) = delete;

  // Null when the file cannot be reached.
  const char* get() const { return m_ok ? m_narrow.c_str() : nullptr; }

 private:
  std::string m_narrow;
  std::wstring m_copy;
  bool m_ok = false;
};

// A narrow name to write a file by. After the write succeeded, Commit puts
// the file at the wide path (replacing a file there with ReplaceFileW, so
// that it keeps what it was); without a commit, whatever this object
// created is removed and a file that was already there keeps its bytes.
class AnsiWritePath {
 public:
  explicit AnsiWritePath(std::wstring_view path, ShortNames shortNames = ShortNames::kUse);
  ~AnsiWritePath();
  AnsiWritePath(const AnsiWritePath&) = delete;
  AnsiWritePath& operator=(const AnsiWritePath&) = delete;

  // Null when no narrow name can be had.
  const char* get() const { return m_ok ? m_narrow.c_str() : nullptr; }
  bool Commit();

 private:
  std::wstring m_target;
  std::string m_narrow;
  std::wstring m_created;  // an empty target made to get its short name
  std::wstring m_standIn;  // an ANSI-named file that becomes the target
  bool m_standInBeside = false;  // the stand-in lies in the target's folder
  bool m_ok = false;
  bool m_committed = false;
};

}  // namespace qb
