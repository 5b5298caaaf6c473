// Text between the module's UTF-16 strings and narrow code pages. The
// imaging library, the C run-time's files and narrow message texts take the
// system ANSI code page; registry scripts are UTF-8.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace qb {

// Converts through the given code page. With `strict`, input that the code
// page cannot represent exactly fails instead of turning into replacement
// characters (invalid UTF-8 in, or unpaired surrogates out). An empty input
// gives an empty output and true.
bool ToWide(UINT codePage, std::string_view in, std::wstring& out, bool strict = false);
bool ToNarrow(UINT codePage, std::wstring_view in, std::string& out, bool strict = false);

// The ANSI form of a text (best fit, as the system converts it); empty on
// failure.
std::string ToAnsi(std::wstring_view text);
// The ANSI form of a BSTR, by its length; empty for a null BSTR.
std::string ToAnsi(BSTR text);
// The wide form of an ANSI text; empty on failure.
std::wstring FromAnsi(std::string_view text);

// The characters of a BSTR by its length (a null BSTR is empty).
inline std::wstring_view BstrView(BSTR text) {
  return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view();
}

}  // namespace qb
