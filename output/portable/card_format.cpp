#include "output/portable/card_format.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qb::card {
namespace {

void StoreU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t LoadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
bool WriteU32(CardStream& card, std::uint32_t v) {
  unsigned char bytes[4];
  StoreU32(bytes, v);
  return card.Write(bytes, 4);
}
// Reads exactly `size` bytes; false on a failed or short read.
bool ReadExactly(CardStream& card, void* data, std::uint32_t size) {
  std::uint32_t got = 0;
  return card.Read(data, size, got) && got == size;
}

bool ReadHeader(CardStream& card, RecordHeader& header) {
  unsigned char field[kRecordHeaderSize];
  if (!ReadExactly(card, field, sizeof field)) return false;
  const auto* end = static_cast<const unsigned char*>(std::memchr(field, 0, kNameFieldSize));
  const std::size_t length = end ? static_cast<std::size_t>(end - field) : kNameFieldSize;
  header.name.assign(reinterpret_cast<const char*>(field), length);
  header.length = LoadU32(field + kNameFieldSize);
  return true;
}

UnpackStatus ReadCount(CardStream& card, std::uint32_t containerOffset, std::uint32_t& count) {
  unsigned char bytes[4];
  if (!card.Seek(containerOffset) || !ReadExactly(card, bytes, 4)) return UnpackStatus::kNoCount;
  count = LoadU32(bytes);
  if (count < 1 || count > kMaxRecords) return UnpackStatus::kBadCount;
  return UnpackStatus::kOk;
}

// Checks a record header against the card before anything is made for it.
UnpackStatus CheckHeader(CardStream& card, const RecordHeader& header) {
  if (!IsSafeName(header.name)) return UnpackStatus::kUnsafeName;
  if (header.length > card.Size()) return UnpackStatus::kBadLength;
  return UnpackStatus::kOk;
}

}  // namespace

bool WriteRecordCount(CardStream& card, std::uint32_t count) { return WriteU32(card, count); }

PackStatus WriteRecord(CardStream& card, std::string_view ansiName, CardStream& source,
                       std::uint64_t sourceSize) {
  if (ansiName.empty()) return PackStatus::kNameEmpty;
  if (ansiName.size() > kMaxNameBytes) return PackStatus::kNameTooLong;
  if (sourceSize > 0xFFFFFFFFu) return PackStatus::kTooLarge;
  unsigned char header[kRecordHeaderSize] = {};
  std::memcpy(header, ansiName.data(), ansiName.size());
  StoreU32(header + kNameFieldSize, static_cast<std::uint32_t>(sourceSize));
  if (!card.Write(header, sizeof header)) return PackStatus::kWriteFailed;

  unsigned char buffer[kCopyBufferSize];
  std::uint64_t copied = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!source.Read(buffer, kCopyBufferSize, got)) return PackStatus::kReadFailed;
    if (got == 0) break;
    if (copied + got > sourceSize) return PackStatus::kSizeChanged;
    if (!card.Write(buffer, got)) return PackStatus::kWriteFailed;
    copied += got;
  }
  return copied == sourceSize ? PackStatus::kOk : PackStatus::kSizeChanged;
}

bool WriteTrailer(CardStream& card, std::uint32_t containerOffset) {
  return WriteU32(card, containerOffset) && card.Write(kEndMarker, kMarkerSize);
}

bool FindContainer(CardStream& card, std::uint32_t& containerOffset) {
  const std::uint64_t size = card.Size();
  if (size < kTrailerSize + 4) return false;
  unsigned char trailer[kTrailerSize];
  if (!card.Seek(size - kTrailerSize) || !ReadExactly(card, trailer, kTrailerSize)) return false;
  if (std::memcmp(trailer + 4, kEndMarker, kMarkerSize) != 0) return false;
  const std::uint32_t offset = LoadU32(trailer);
  if (static_cast<std::uint64_t>(offset) + 4 + kTrailerSize > size) return false;
  containerOffset = offset;
  return true;
}

bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$")
    return true;
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
  // COM1-COM9, LPT1-LPT9, and with the superscript digits 1, 2, 3 (0xB9,
  // 0xB2, 0xB3 in code page 1252), which Windows reserves as well.
  const auto digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsSafeName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::strchr("\\/:<>\"|?*", c)) return false;
  }
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsDeviceName(name);
}

const char* UnpackStatusText(UnpackStatus status) {
  switch (status) {
    case UnpackStatus::kOk: return "unpacked";
    case UnpackStatus::kNoCount: return "the record count cannot be read";
    case UnpackStatus::kBadCount: return "the record count is not 1 or 2";
    case UnpackStatus::kBadHeader: return "a record's name or length is missing";
    case UnpackStatus::kUnsafeName: return "a record's name is not a plain file name";
    case UnpackStatus::kBadLength: return "a record's length is larger than the card";
    case UnpackStatus::kExists: return "a file of a record's name is already there";
    case UnpackStatus::kCannotCreate: return "a file of a record's name cannot be made";
    case UnpackStatus::kWriteFailed: return "a record cannot be written";
    case UnpackStatus::kCutShort: return "a record's data is cut short";
    case UnpackStatus::kNoTrailer: return "the card's trailer is missing";
  }
  return "unknown";
}

UnpackStatus Unpack(CardStream& card, std::uint32_t containerOffset, RecordSink& sink) {
  std::uint32_t count = 0;
  if (UnpackStatus s = ReadCount(card, containerOffset, count); s != UnpackStatus::kOk) return s;
  std::vector<unsigned char> chunk;
  for (std::uint32_t index = 0; index < count; ++index) {
    RecordHeader header;
    if (!ReadHeader(card, header)) return UnpackStatus::kBadHeader;
    if (UnpackStatus s = CheckHeader(card, header); s != UnpackStatus::kOk) return s;
    bool exists = false;
    CardStream* out = sink.Create(header, index, exists);
    if (!out) return exists ? UnpackStatus::kExists : UnpackStatus::kCannotCreate;
    if (chunk.empty()) chunk.resize(kUnpackChunkSize);
    std::uint32_t left = header.length;
    bool cut = false;
    while (left > 0) {
      const std::uint32_t want = std::min(left, kUnpackChunkSize);
      std::uint32_t got = 0;
      if (!cut && !card.Read(chunk.data(), want, got)) got = 0;
      if (got < want) {
        cut = true;
        std::fill(chunk.begin() + got, chunk.begin() + want, 0);
      }
      if (!out->Write(chunk.data(), want)) {
        sink.Done(index, false);
        return UnpackStatus::kWriteFailed;
      }
      left -= want;
    }
    sink.Done(index, true);
    if (cut) return UnpackStatus::kCutShort;
  }
  unsigned char trailer[kTrailerSize];
  if (!ReadExactly(card, trailer, kTrailerSize)) return UnpackStatus::kNoTrailer;
  return UnpackStatus::kOk;
}

UnpackStatus ListRecords(CardStream& card, std::uint32_t containerOffset, RecordHeader* headers,
                         std::uint32_t& count) {
  count = 0;
  std::uint32_t declared = 0;
  if (UnpackStatus s = ReadCount(card, containerOffset, declared); s != UnpackStatus::kOk) return s;
  std::uint64_t position = static_cast<std::uint64_t>(containerOffset) + 4;
  for (std::uint32_t index = 0; index < declared; ++index) {
    RecordHeader& header = headers[index];
    if (!ReadHeader(card, header)) return UnpackStatus::kBadHeader;
    if (UnpackStatus s = CheckHeader(card, header); s != UnpackStatus::kOk) return s;
    position += kRecordHeaderSize;
    ++count;
    if (position + header.length > card.Size()) return UnpackStatus::kCutShort;
    position += header.length;
    if (!card.Seek(position)) return UnpackStatus::kCutShort;
  }
  if (position + kTrailerSize > card.Size()) return UnpackStatus::kNoTrailer;
  return UnpackStatus::kOk;
}

bool ReadAhead::Read(void* data, std::uint32_t size, std::uint32_t& got) {
  got = 0;
  auto* out = static_cast<char*>(data);
  while (got < size) {
    if (m_position == m_buffer.size()) {
      if (m_failed) return got > 0;
      m_buffer.resize(kBatchSize);
      std::uint32_t filled = 0;
      if (!m_inner.Read(m_buffer.data(), kBatchSize, filled)) {
        m_failed = true;
        filled = 0;
      }
      m_buffer.resize(filled);
      m_position = 0;
      if (filled == 0) return !m_failed || got > 0;
    }
    const std::size_t take = std::min<std::size_t>(size - got, m_buffer.size() - m_position);
    std::memcpy(out + got, m_buffer.data() + m_position, take);
    m_position += take;
    got += static_cast<std::uint32_t>(take);
  }
  return true;
}

bool WriteBehind::Write(const void* data, std::uint32_t size) {
  if (m_failed) return false;
  m_buffer.append(static_cast<const char*>(data), size);
  return m_buffer.size() < kBatchSize || Flush();
}

bool WriteBehind::Flush() {
  if (!m_failed && !m_buffer.empty()) m_failed = !m_inner.Write(m_buffer.data(), static_cast<std::uint32_t>(m_buffer.size()));
  m_buffer.clear();
  return !m_failed;
}

bool MemoryCardStream::Read(void* data, std::uint32_t size, std::uint32_t& got) {
  const std::size_t available = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
  got = static_cast<std::uint32_t>(std::min<std::size_t>(size, available));
  if (got) std::memcpy(data, m_bytes.data() + m_position, got);
  m_position += got;
  return true;
}

bool MemoryCardStream::Write(const void* data, std::uint32_t size) {
  if (m_position + size > m_bytes.size()) m_bytes.resize(m_position + size);
  if (size) std::memcpy(m_bytes.data() + m_position, data, size);
  m_position += size;
  return true;
}

bool MemoryCardStream::Seek(std::uint64_t offset) {
  m_position = static_cast<std::size_t>(offset);
  return true;
}

}  // namespace qb::card
