// The card container's stream over a Win32 file handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/resource_guards.h"
#include "output/portable/card_format.h"

namespace qb {

class CardFile final : public card::CardStream {
 public:
  // Takes the handle over (INVALID_HANDLE_VALUE for none).
  explicit CardFile(HANDLE file) : m_file(file) {}

  bool ok() const { return static_cast<bool>(m_file); }
  HANDLE get() const { return m_file.get(); }
  void close() { m_file.reset(); }

  bool Read(void* data, std::uint32_t size, std::uint32_t& got) override;
  bool Write(const void* data, std::uint32_t size) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Size() override;
  bool SeekToEnd();

 private:
  UniqueFile m_file;
};

// Unpacked records become new files in a folder: the folder (with its
// trailing backslash, or empty for the current folder) followed by the
// record's name, created with CREATE_NEW and without sharing, so that no
// existing file is ever replaced. The container's reader has checked that
// the name is a plain file name (no other folder, no device). A file whose
// data could not all be written is removed.
class FolderSink : public card::RecordSink {
 public:
  explicit FolderSink(std::wstring folder) : m_folder(std::move(folder)) {}

  card::CardStream* Create(const card::RecordHeader& record, std::uint32_t index, bool& exists) override;
  void Done(std::uint32_t, bool complete) override;
  // The path of the file last asked for.
  const std::wstring& path() const { return m_path; }

 protected:
  // Called before each file is created.
  virtual void Creating(const std::wstring& /*folder*/, const std::wstring& /*path*/, std::uint32_t /*index*/) {}

 private:
  std::wstring m_folder;
  std::wstring m_path;
  std::unique_ptr<CardFile> m_file;
};

// Opens a file for reading without sharing, as the card operations do.
HANDLE OpenForReading(const wchar_t* path, DWORD share = 0);

}  // namespace qb
