#include "base/folders.h"

#include <windows.h>

#include <string>

namespace qb {

bool MakeFoldersFor(const wchar_t* path) {
  if (!path) return false;
  const std::wstring full(path);
  const size_t last = full.find_last_of(L"\\/");
  if (last == std::wstring::npos) return true;  // the current folder
  // Each folder on the way, from the first that follows the root ("C:\",
  // "\\server\share\" or a leading separator) to the last.
  size_t start = 0;
  if (full.size() >= 2 && full[1] == L':') start = 2;
  if (full.compare(0, 2, L"\\\\") == 0) {
    // A UNC path: the server and share names are not folders to make.
    start = full.find_first_of(L"\\/", 2);
    if (start != std::wstring::npos) start = full.find_first_of(L"\\/", start + 1);
    if (start == std::wstring::npos || start >= last) return true;
  }
  for (size_t cut = full.find_first_of(L"\\/", start); cut != std::wstring::npos && cut <= last;
       cut = full.find_first_of(L"\\/", cut + 1)) {
    if (cut == 0 || full[cut - 1] == L'\\' || full[cut - 1] == L'/' || full[cut - 1] == L':') continue;
    const std::wstring folder = full.substr(0, cut);
    if (CreateDirectoryW(folder.c_str(), nullptr)) continue;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  }
  return true;
}

}  // namespace qb
