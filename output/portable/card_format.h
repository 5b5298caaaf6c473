// The card container: files appended behind a copy of the player program.
//
// Layout (integers unsigned 32-bit little-endian, no gaps; P is the length
// of the player):
//
//   0            P     the player program
//   P            4     record count (1 or 2)
//   then per record:
//                255   name: ANSI bytes, NUL-terminated, rest of the field 0
//                4     length of the data
//                n     the data, as on disk
//   end-15       4     container offset: P again
//   end-11       11    end marker "Compressed" and a zero byte
//
// Portable: everything goes through CardStream, which the Windows shell
// implements over file handles and the tests over memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace qb::card {

inline constexpr std::uint32_t kNameFieldSize = 255;
// The longest name that fits the field with its terminating zero.
inline constexpr std::uint32_t kMaxNameBytes = kNameFieldSize - 1;
inline constexpr std::uint32_t kRecordHeaderSize = kNameFieldSize + 4;
inline constexpr std::uint32_t kMarkerSize = 11;
inline constexpr char kEndMarker[kMarkerSize] = {'C', 'o', 'm', 'p', 'r', 'e', 's', 's', 'e', 'd', '\0'};
inline constexpr std::uint32_t kTrailerSize = 4 + kMarkerSize;
// Data is moved through a buffer of this size when packing.
inline constexpr std::uint32_t kCopyBufferSize = 1024;
// Data is moved in chunks of this size when unpacking.
inline constexpr std::uint32_t kUnpackChunkSize = 64 * 1024;
inline constexpr std::uint32_t kMaxRecords = 2;

// A file, read or written sequentially from its current position.
class CardStream {
 public:
  virtual ~CardStream() = default;
  // Reads up to `size` bytes into `data`; `got` is what was read (less at
  // the end of the file). False when the read itself fails.
  virtual bool Read(void* data, std::uint32_t size, std::uint32_t& got) = 0;
  // Writes all `size` bytes, or fails.
  virtual bool Write(const void* data, std::uint32_t size) = 0;
  // Moves to an offset from the start.
  virtual bool Seek(std::uint64_t offset) = 0;
  // The file's whole length.
  virtual std::uint64_t Size() = 0;
};

// ---- Writing ----

enum class PackStatus {
  kOk,
  kNameTooLong,    // the ANSI name does not fit 254 bytes
  kNameEmpty,      // no name to write
  kTooLarge,       // a file of 4 GiB or more
  kReadFailed,     // the source could not be read to its end
  kSizeChanged,    // the source gave other than the bytes it had when measured
  kWriteFailed,
};

bool WriteRecordCount(CardStream& card, std::uint32_t count);

// Writes one record: the name field, the length (sourceSize) and the bytes
// of `source` from its current position, moved through one buffer of
// kCopyBufferSize bytes. Nothing is written when the name or the size
// cannot be recorded.
PackStatus WriteRecord(CardStream& card, std::string_view ansiName, CardStream& source,
                       std::uint64_t sourceSize);

bool WriteTrailer(CardStream& card, std::uint32_t containerOffset);

// ---- Reading ----

// The container offset that the card's trailer gives, when the card ends in
// the marker and the offset leaves room for a record count and a trailer.
bool FindContainer(CardStream& card, std::uint32_t& containerOffset);

// A name that may become a file in the card's folder: not empty, no path
// separator (\ or /), no drive or stream colon, not "." or "..", no control
// characters and none of the characters Windows refuses in names
// (< > " | ? *), not ending in a dot or a space (Windows drops those, so
// the file would get another name), and not a reserved device name (CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, also with the
// superscript digits 1-3 of code page 1252), in any case, with or without
// an extension: opening one opens the device, not a file.
bool IsSafeName(std::string_view name);

// Whether the name, up to its first dot and without the spaces before it,
// is a reserved device name.
bool IsDeviceName(std::string_view name);

struct RecordHeader {
  std::string name;  // ANSI, up to the first zero byte
  std::uint32_t length = 0;
};

// Where unpacked records go. Create makes a new file of that name (never
// replacing one) and returns it, or null; `exists` tells that a file of
// that name was there already.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual CardStream* Create(const RecordHeader& record, std::uint32_t index, bool& exists) = 0;
  // Called once for each created file when the unpack is done with it; the
  // sink closes the file. A file whose data could not all be written is
  // not complete, and the sink removes it: no partial file stays.
  virtual void Done(std::uint32_t index, bool complete) = 0;
};

enum class UnpackStatus {
  kOk,
  kNoCount,        // the record count could not be read
  kBadCount,       // a count other than 1 or 2
  kBadHeader,      // a record's name field or length is missing
  kUnsafeName,     // a name that would leave the folder
  kBadLength,      // a length larger than the whole card
  kExists,         // a file of the record's name is there already
  kCannotCreate,   // the file cannot be made
  kWriteFailed,
  kCutShort,       // a record's data ends early (written zero-filled)
  kNoTrailer,      // the trailer is missing
};

const char* UnpackStatusText(UnpackStatus status);

// Reads the records of the container at `containerOffset` into `sink`, in
// order, stopping at the first problem; records written before it stay.
// Data is streamed in chunks of kUnpackChunkSize; a record whose data is
// cut short keeps its declared length, zero-filled, and ends the unpack
// with kCutShort.
UnpackStatus Unpack(CardStream& card, std::uint32_t containerOffset, RecordSink& sink);

// Reads the record headers only (for listing); the card is left positioned
// after the last record. `headers` holds what was read.
UnpackStatus ListRecords(CardStream& card, std::uint32_t containerOffset, RecordHeader* headers,
                         std::uint32_t& count);

// Batches the small reads and writes of the record copy into large ones on
// the stream beneath (one system call per kBatchSize bytes instead of one
// per 1024). ReadAhead only reads and WriteBehind only writes, both from
// the position the inner stream has; WriteBehind must be flushed, and
// reports a failed write of the inner stream at the next Write or Flush.
inline constexpr std::uint32_t kBatchSize = 1024 * 1024;

class ReadAhead final : public CardStream {
 public:
  explicit ReadAhead(CardStream& inner) : m_inner(inner) {}
  bool Read(void* data, std::uint32_t size, std::uint32_t& got) override;
  bool Write(const void*, std::uint32_t) override { return false; }
  bool Seek(std::uint64_t) override { return false; }
  std::uint64_t Size() override { return m_inner.Size(); }

 private:
  CardStream& m_inner;
  std::string m_buffer;
  std::size_t m_position = 0;
  bool m_failed = false;
};

class WriteBehind final : public CardStream {
 public:
  explicit WriteBehind(CardStream& inner) : m_inner(inner) {}
  bool Read(void*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return false;
  }
  bool Write(const void* data, std::uint32_t size) override;
  bool Seek(std::uint64_t) override { return false; }
  std::uint64_t Size() override { return m_inner.Size() + m_buffer.size(); }
  // Writes what is held; false when this or an earlier write failed.
  bool Flush();

 private:
  CardStream& m_inner;
  std::string m_buffer;
  bool m_failed = false;
};

// A stream over bytes in memory: reads from and writes at a position,
// growing the bytes as written.
class MemoryCardStream final : public CardStream {
 public:
  MemoryCardStream() = default;
  explicit MemoryCardStream(std::string bytes) : m_bytes(std::move(bytes)) {}
  bool Read(void* data, std::uint32_t size, std::uint32_t& got) override;
  bool Write(const void* data, std::uint32_t size) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Size() override { return m_bytes.size(); }
  const std::string& bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
  std::size_t m_position = 0;
};

}  // namespace qb::card
