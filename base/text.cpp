#include "base/text.h"

#include <climits>

namespace qb {

bool ToWide(UINT codePage, std::string_view in, std::wstring& out, bool strict) {
  out.clear();
  if (in.empty()) return true;
  if (in.size() > static_cast<size_t>(INT_MAX)) return false;
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int length = static_cast<int>(in.size());
  const int n = MultiByteToWideChar(codePage, flags, in.data(), length, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  if (MultiByteToWideChar(codePage, flags, in.data(), length, out.data(), n) == n) return true;
  out.clear();
  return false;
}

bool ToNarrow(UINT codePage, std::wstring_view in, std::string& out, bool strict) {
  out.clear();
  if (in.empty()) return true;
  if (in.size() > static_cast<size_t>(INT_MAX)) return false;
  // Only UTF-8 knows the flag; other code pages reject it.
  const DWORD flags = strict && codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
  const int length = static_cast<int>(in.size());
  const int n = WideCharToMultiByte(codePage, flags, in.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(codePage, flags, in.data(), length, out.data(), n, nullptr, nullptr) == n)
    return true;
  out.clear();
  return false;
}

std::string ToAnsi(std::wstring_view text) {
  std::string narrow;
  ToNarrow(CP_ACP, text, narrow);
  return narrow;
}

std::string ToAnsi(BSTR text) { return ToAnsi(BstrView(text)); }

std::wstring FromAnsi(std::string_view text) {
  std::wstring wide;
  ToWide(CP_ACP, text, wide);
  return wide;
}

}  // namespace qb
