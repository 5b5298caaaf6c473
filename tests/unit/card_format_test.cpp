#include "output/portable/card_format.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace qb::card;

namespace {

std::string U32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string NameField(const std::string& name) {
  std::string field = name;
  field.resize(kNameFieldSize, '\0');
  return field;
}
std::string Record(const std::string& name, const std::string& data) {
  return NameField(name) + U32(static_cast<std::uint32_t>(data.size())) + data;
}
std::string Trailer(std::uint32_t offset) { return U32(offset) + std::string("Compressed", 11); }

// A card written through the writer from a player and two named files.
std::string Pack(const std::string& player, const std::string& name1, const std::string& data1,
                 const std::string& name2, const std::string& data2) {
  MemoryCardStream card(player);
  card.Seek(player.size());
  EXPECT_TRUE(WriteRecordCount(card, 2));
  MemoryCardStream a(data1), b(data2);
  EXPECT_EQ(PackStatus::kOk, WriteRecord(card, name1, a, data1.size()));
  EXPECT_EQ(PackStatus::kOk, WriteRecord(card, name2, b, data2.size()));
  EXPECT_TRUE(WriteTrailer(card, static_cast<std::uint32_t>(player.size())));
  return card.bytes();
}

// Collects unpacked records in memory; refuses names listed as existing.
class MapSink final : public RecordSink {
 public:
  CardStream* Create(const RecordHeader& record, std::uint32_t, bool& exists) override {
    exists = existing.count(record.name) != 0;
    if (exists) return nullptr;
    auto& stream = files[record.name];
    return &stream;
  }
  void Done(std::uint32_t, bool complete) override {
    ++done;
    if (!complete) ++incomplete;
  }
  std::map<std::string, MemoryCardStream> files;
  std::map<std::string, int> existing;
  int done = 0;
  int incomplete = 0;
};

}  // namespace

TEST(CardFormat, WritesTheLayoutByteForByte) {
  const std::string player = "MZ\x90\x00PLAYER";
  const std::string card = Pack(player, "photo.jpg", "abcde", "note.txt", "xyz");
  EXPECT_EQ(player.size() + 4 + 518 + 5 + 3 + 15, card.size());
  const std::string expected = player + U32(2) + Record("photo.jpg", "abcde") +
                               Record("note.txt", "xyz") + Trailer(static_cast<std::uint32_t>(player.size()));
  EXPECT_EQ(expected, card);
  EXPECT_EQ(std::string("\x43\x6F\x6D\x70\x72\x65\x73\x73\x65\x64\x00", 11), card.substr(card.size() - 11));
}

TEST(CardFormat, WriterRefusesWhatTheFieldsCannotHold) {
  struct Case {
    std::string name;
    std::uint64_t size;
    PackStatus status;
  } cases[] = {
      {std::string(254, 'n'), 0, PackStatus::kOk},
      {std::string(255, 'n'), 0, PackStatus::kNameTooLong},
      {"", 0, PackStatus::kNameEmpty},
      {"big.bin", 0x100000000ull, PackStatus::kTooLarge},
      {"grew.bin", 2, PackStatus::kSizeChanged},   // the source holds 3 bytes
      {"shrank.bin", 4, PackStatus::kSizeChanged},
  };
  for (const Case& c : cases) {
    MemoryCardStream card, source(c.status == PackStatus::kOk ? "" : "abc");
    EXPECT_EQ(c.status, WriteRecord(card, c.name, source, c.size)) << c.name.size() << " " << c.size;
    if (c.status == PackStatus::kNameTooLong || c.status == PackStatus::kNameEmpty ||
        c.status == PackStatus::kTooLarge) {
      EXPECT_EQ(0u, card.Size()) << "nothing written";
    }
  }
}

TEST(CardFormat, UnpacksWhatItWrote) {
  const std::string card = Pack("PLAYER", "photo.jpg", std::string(200000, 'p'), "note.txt", "hello");
  MemoryCardStream stream(card);
  std::uint32_t offset = 0;
  ASSERT_TRUE(FindContainer(stream, offset));
  EXPECT_EQ(6u, offset);
  MapSink sink;
  EXPECT_EQ(UnpackStatus::kOk, Unpack(stream, offset, sink));
  ASSERT_EQ(2u, sink.files.size());
  EXPECT_EQ(std::string(200000, 'p'), sink.files["photo.jpg"].bytes());
  EXPECT_EQ("hello", sink.files["note.txt"].bytes());
  EXPECT_EQ(2, sink.done);

  RecordHeader headers[kMaxRecords];
  std::uint32_t count = 0;
  MemoryCardStream again(card);
  EXPECT_EQ(UnpackStatus::kOk, ListRecords(again, offset, headers, count));
  ASSERT_EQ(2u, count);
  EXPECT_EQ("photo.jpg", headers[0].name);
  EXPECT_EQ(200000u, headers[0].length);
  EXPECT_EQ("note.txt", headers[1].name);
  EXPECT_EQ(5u, headers[1].length);
}

TEST(CardFormat, OneRecordCard) {
  MemoryCardStream card(std::string("PL"));
  card.Seek(2);
  WriteRecordCount(card, 1);
  MemoryCardStream a("abc");
  ASSERT_EQ(PackStatus::kOk, WriteRecord(card, "a.bmp", a, 3));
  WriteTrailer(card, 2);
  EXPECT_EQ("PL" + U32(1) + Record("a.bmp", "abc") + Trailer(2), card.bytes());
  MapSink sink;
  EXPECT_EQ(UnpackStatus::kOk, Unpack(card, 2, sink));
  EXPECT_EQ(1u, sink.files.size());
  EXPECT_EQ("abc", sink.files["a.bmp"].bytes());
}

TEST(CardFormat, TrailerFindsTheContainerOrNothing) {
  const std::string body = "PLAYER" + U32(1) + Record("a", "x");
  struct Case {
    const char* what;
    std::string card;
    bool found;
  } cases[] = {
      {"sound", body + Trailer(6), true},
      {"other marker", body + U32(6) + std::string("Compresses", 11), false},
      {"offset past the end", body + Trailer(0xFFFFFFF0u), false},
      {"offset leaves no room for the count", body + Trailer(static_cast<std::uint32_t>(body.size() + 1)), false},
      {"too short", std::string("Compressed", 11), false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    MemoryCardStream stream(c.card);
    std::uint32_t offset = 0;
    EXPECT_EQ(c.found, FindContainer(stream, offset)) << c.what;
    if (c.found) {
      EXPECT_EQ(6u, offset) << c.what;
    }
  }
}

TEST(CardFormat, NamesThatWouldLeaveTheFolder) {
  for (const char* name : {"..\\x.txt", "../x.txt", "a\\b", "a/b", "C:x", "C:\\x", "x:stream", "..", ".", "",
                           "\x01name", "\\x", "name.", "name ", "x..", "a?.jpg", "*", "a<b", "a\"b", "a|b"})
    EXPECT_FALSE(IsSafeName(name)) << name;
  // Device names open the device, whatever the case and the extension.
  for (const char* name : {"CON", "con", "nul.txt", "Nul.tar.gz", "COM1.jpg", "lpt9", "aux .txt", "PRN.",
                           "CONIN$", "conout$.log", "COM\xB9", "lpt\xB3.txt"})
    EXPECT_FALSE(IsSafeName(name)) << name;
  for (const char* name : {"photo.jpg", "..x", "a b.txt", "\xC3\xA9t\xC3\xA9.txt", ".hidden", "CONSOLE.txt",
                           "com10", "COM0", "lpt", "nulx.txt", "xcon", "a.con"})
    EXPECT_TRUE(IsSafeName(name)) << name;
}

TEST(CardFormat, HostileCardsWriteNothingForTheBadRecord) {
  const std::string player = "PLAYER";
  struct Case {
    const char* what;
    std::string container;
    UnpackStatus status;
    std::size_t files;  // files the sink was asked for
  } cases[] = {
      {"parent in the name", U32(2) + Record("..\\evil.txt", "x") + Record("b", "y"), UnpackStatus::kUnsafeName, 0},
      {"drive in the name", U32(2) + Record("C:evil.txt", "x") + Record("b", "y"), UnpackStatus::kUnsafeName, 0},
      {"separator in the second name", U32(2) + Record("a", "x") + Record("sub/b", "y"), UnpackStatus::kUnsafeName, 1},
      {"length of 0xFFFFFFFF", U32(2) + NameField("a") + U32(0xFFFFFFFFu) + "x", UnpackStatus::kBadLength, 0},
      {"count 0", U32(0) + Record("a", "x") + Record("b", "y"), UnpackStatus::kBadCount, 0},
      {"count 1000", U32(1000) + Record("a", "x") + Record("b", "y"), UnpackStatus::kBadCount, 0},
      {"name field cut short", U32(2) + std::string(100, 'a'), UnpackStatus::kBadHeader, 0},
  };
  for (const Case& c : cases) {
    MemoryCardStream card(player + c.container + Trailer(6));
    MapSink sink;
    EXPECT_EQ(c.status, Unpack(card, 6, sink)) << c.what;
    EXPECT_EQ(c.files, sink.files.size()) << c.what;
  }
}

TEST(CardFormat, RecordCutShortKeepsItsLengthZeroFilled) {
  // Declares 200000 bytes, holds 70000 + 3 (more than one chunk) behind a
  // player long enough for the length to be within the card.
  const std::string data(70003, 'd');
  const std::string player(150000, 'P');
  MemoryCardStream card(player + U32(2) + NameField("a.bin") + U32(200000) + data);
  MapSink sink;
  EXPECT_EQ(UnpackStatus::kCutShort, Unpack(card, 150000, sink));
  ASSERT_EQ(1u, sink.files.size());
  const std::string& out = sink.files["a.bin"].bytes();
  ASSERT_EQ(200000u, out.size());
  EXPECT_EQ(data, out.substr(0, data.size()));
  EXPECT_EQ(std::string(200000 - data.size(), '\0'), out.substr(data.size()));
}

TEST(CardFormat, ExistingFileStopsTheUnpack) {
  const std::string card = Pack("P", "a.txt", "aa", "b.txt", "bb");
  for (const char* existing : {"a.txt", "b.txt"}) {
    MemoryCardStream stream(card);
    MapSink sink;
    sink.existing[existing] = 1;
    EXPECT_EQ(UnpackStatus::kExists, Unpack(stream, 1, sink)) << existing;
    EXPECT_EQ(std::string(existing) == "a.txt" ? 0u : 1u, sink.files.size()) << existing;
  }
}

TEST(CardFormat, RecordWhoseWriteFailsIsHandedBackIncomplete) {
  // The sink's file takes the first chunk and refuses the second: the sink
  // hears that the record is incomplete (so that it removes the file), and
  // the next record is never asked for.
  class FullDisk final : public CardStream {
   public:
    bool Read(void*, std::uint32_t, std::uint32_t& got) override { return (got = 0), false; }
    bool Write(const void*, std::uint32_t) override { return m_writes++ == 0; }
    bool Seek(std::uint64_t) override { return false; }
    std::uint64_t Size() override { return 0; }

   private:
    int m_writes = 0;
  };
  class Sink final : public RecordSink {
   public:
    CardStream* Create(const RecordHeader&, std::uint32_t index, bool&) override {
      created.push_back(index);
      return &file;
    }
    void Done(std::uint32_t index, bool complete) override { done.push_back({index, complete}); }
    FullDisk file;
    std::vector<std::uint32_t> created;
    std::vector<std::pair<std::uint32_t, bool>> done;
  } sink;
  MemoryCardStream card(Pack("P", "a.bin", std::string(kUnpackChunkSize + 10, 'a'), "b.bin", "b"));
  EXPECT_EQ(UnpackStatus::kWriteFailed, Unpack(card, 1, sink));
  EXPECT_EQ(std::vector<std::uint32_t>{0}, sink.created);
  EXPECT_EQ((std::vector<std::pair<std::uint32_t, bool>>{{0, false}}), sink.done);
}

TEST(CardFormat, MissingTrailerAfterTheRecords) {
  MemoryCardStream card("P" + U32(1) + Record("a", "xyz") + U32(1));
  MapSink sink;
  EXPECT_EQ(UnpackStatus::kNoTrailer, Unpack(card, 1, sink));
  EXPECT_EQ("xyz", sink.files["a"].bytes());
}

TEST(CardFormat, BatchedStreamsCarryTheSameBytes) {
  // A record larger than one batch, copied through ReadAhead into
  // WriteBehind, gives the card the direct copy gives.
  std::string data(kBatchSize * 2 + 12345, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 10));
  MemoryCardStream direct, batched, a(data), b(data);
  ASSERT_EQ(PackStatus::kOk, WriteRecord(direct, "big.bin", a, data.size()));
  {
    WriteBehind out(batched);
    ReadAhead in(b);
    ASSERT_EQ(PackStatus::kOk, WriteRecord(out, "big.bin", in, data.size()));
    EXPECT_LT(batched.Size(), direct.Size()) << "the tail is held until flushed";
    ASSERT_TRUE(out.Flush());
  }
  EXPECT_EQ(direct.bytes(), batched.bytes());
}

namespace {
// Fails every write after the first `allowed` ones, and every read.
class FailingStream final : public CardStream {
 public:
  explicit FailingStream(int allowed) : m_allowed(allowed) {}
  bool Read(void*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return false;
  }
  bool Write(const void*, std::uint32_t) override { return m_allowed-- > 0; }
  bool Seek(std::uint64_t) override { return true; }
  std::uint64_t Size() override { return 0; }

 private:
  int m_allowed;
};
}  // namespace

TEST(CardFormat, FailuresOfTheStreamsBeneathAreReported) {
  const std::string data(kBatchSize + 10, 'x');
  {
    FailingStream disk(0);
    WriteBehind out(disk);
    MemoryCardStream source(data);
    EXPECT_EQ(PackStatus::kWriteFailed, WriteRecord(out, "a", source, data.size()));
    EXPECT_FALSE(out.Flush());
  }
  {
    FailingStream disk(0);
    WriteBehind out(disk);
    EXPECT_TRUE(out.Write("abc", 3)) << "held";
    EXPECT_FALSE(out.Flush());
  }
  {
    FailingStream unreadable(0);
    ReadAhead in(unreadable);
    MemoryCardStream card;
    EXPECT_EQ(PackStatus::kReadFailed, WriteRecord(card, "a", in, 10));
  }
}
