#include "output/card_file.h"

#include "base/text.h"

namespace qb {

bool CardFile::Read(void* data, std::uint32_t size, std::uint32_t& got) {
  DWORD read = 0;
  const bool ok = ReadFile(m_file.get(), data, size, &read, nullptr) != 0;
  got = read;
  return ok;
}

bool CardFile::Write(const void* data, std::uint32_t size) {
  DWORD written = 0;
  return WriteFile(m_file.get(), data, size, &written, nullptr) && written == size;
}

bool CardFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(m_file.get(), to, nullptr, FILE_BEGIN) != 0;
}

bool CardFile::SeekToEnd() {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return SetFilePointerEx(m_file.get(), zero, nullptr, FILE_END) != 0;
}

std::uint64_t CardFile::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(m_file.get(), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

card::CardStream* FolderSink::Create(const card::RecordHeader& record, std::uint32_t index, bool& exists) {
  m_path = m_folder + FromAnsi(record.name);
  Creating(m_folder, m_path, index);
  m_file = std::make_unique<CardFile>(
      CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (m_file->ok()) return m_file.get();
  const DWORD error = GetLastError();
  exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  m_file.reset();
  return nullptr;
}

void FolderSink::Done(std::uint32_t, bool complete) {
  const bool made = m_file && m_file->ok();
  m_file.reset();
  // The file was made by this sink (CREATE_NEW), so removing it loses
  // nothing of the user's.
  if (made && !complete) DeleteFileW(m_path.c_str());
}

HANDLE OpenForReading(const wchar_t* path, DWORD share) {
  return CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace qb
