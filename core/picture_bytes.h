// What the picture's loads and saves share, whether they go through a file
// or through a byte array: the library's encoder into memory, the format an
// extension names, and the English sentence of a failed load.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// What EncodeBlock returns when the file was made.
constexpr int kEncoded = 0;

// The bytes of a file the library encoded: where the library put them (its
// block, locked while the holder lives, so that a save writes them without
// another copy), or the module's own bytes once something replaced them.
class EncodedFile {
 public:
  EncodedFile() = default;
  EncodedFile(const EncodedFile&) = delete;
  EncodedFile& operator=(const EncodedFile&) = delete;
  ~EncodedFile() { Release(); }

  std::span<const uint8_t> bytes() const { return m_own.empty() ? m_held : std::span<const uint8_t>(m_own); }
  // The file becomes `made`.
  void Replace(std::vector<uint8_t> made);
  // Holds the library's block of an encoded file (its length, then its
  // bytes); false, holding nothing, when the block says otherwise.
  bool Hold(int32_t encoded);

 private:
  void Release();
  HGLOBAL m_block = nullptr;
  std::span<const uint8_t> m_held;
  std::vector<uint8_t> m_own;
};

// Encodes a block as a file named `name` would be written (the format from
// its extension), lossy formats at `quality`, into `file`. kEncoded or the
// library's failure value.
int EncodeBlock(int32_t handle, const char* name, int quality, EncodedFile& file);

// A narrow name carrying the extension of a path's last component, for the
// library to choose the format by ("x.jpg"); "x" when it has none, or one
// that is not plain ASCII (which names no format).
std::string FormatName(std::wstring_view path);

// True when an extension makes SaveAs keep the camera data: ".JPG", "JPG",
// ".JPEG" or "JPEG" in any case.
bool NamesJpeg(BSTR extension);

// The string-table sentence (IDS_DETAIL_*) and its number argument for a
// failed load of a file: why the library's failure value `failure` came,
// from the file system where the value alone cannot tell (a missing file or
// folder, a folder, access denied, an empty file).
UINT FileLoadDetail(int32_t failure, const std::wstring& path, std::wstring& number);

}  // namespace qb
