// The imaging library on several threads gives what it gives on one: a
// large picture's JPEG, encoded in bands joined at restart markers, decodes
// to exactly the pixels of the single-threaded file and is hardly larger;
// a file with restart markers at MCU rows decodes in bands, and one
// without them with its entropy decoding beside the rest, to the pixels of
// the ordinary decode; a TIFF's strips read on several threads give the
// picture saved; a resize gives the same bytes on any number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "base/portable/work_pool.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"
#include "tests/unit/libjpeg_writer.h"
#include "tests/unit/modifier_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t CountRestartMarkers(const Bytes& f) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) n += f[i] == 0xFF && f[i + 1] >= 0xD0 && f[i + 1] <= 0xD7;
  return n;
}

Bytes Decoded(const Bytes& file) {
  rastrum::VectorAllocator out;
  EXPECT_EQ(rastrum::kOk, rastrum::DecodeImage(file, out));
  return out.block;
}

TEST(JpegOnThreads, DecodesToTheSingleThreadedPixels) {
  // Sizes: bands of whole MCU rows with a short last band, a height that is
  // no multiple of the MCU, and one just over the size that is split.
  for (auto [w, h] : {std::pair{1500, 1003}, std::pair{2048, 1536}, std::pair{1030, 1025}}) {
    const Bytes block = qb::test_blocks::MakeBlock(w, h, 24, static_cast<uint32_t>(w + h));
    Bytes single, banded;
    qb::work::SetThreadCount(1);
    ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kJpeg, 85, single));
    for (int threads : {2, 3}) {
      qb::work::SetThreadCount(threads);
      banded.clear();
      ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kJpeg, 85, banded));
      EXPECT_EQ(0u, CountRestartMarkers(single));
      // A few bands a thread (three at most), one restart marker between two.
      const size_t markers = CountRestartMarkers(banded);
      EXPECT_GE(markers, static_cast<size_t>(threads - 1)) << w << "x" << h;
      EXPECT_LE(markers, static_cast<size_t>(3 * threads - 1)) << w << "x" << h;
      EXPECT_LE(banded.size(), single.size() + 8u * (markers + 1)) << w << "x" << h;
      EXPECT_EQ(Decoded(single), Decoded(banded)) << w << "x" << h << " on " << threads << " threads";
    }
  }
  qb::work::SetThreadCount(0);
}

// A colourful picture with sharp edges, whose chroma rows differ from
// their neighbours, written by libjpeg with the given sampling (0: grey)
// and restart markers every `restartRows` MCU rows or `restartMcus` MCUs.
enum class Split { kWhole, kTwoSides, kBands };

struct BandCase {
  const char* name;
  int sampling;  // luma factors as h * 10 + v; 0 for grey
  bool progressive;
  int restartRows, restartMcus;
  Split split;  // how the decode is split on two or three threads
};

Bytes WriteJpeg(const BandCase& c, int w, int h) {
  const auto setUp = [&](jpeg_compress_struct& cinfo) {
    jpeg_set_quality(&cinfo, 85, TRUE);
    if (c.sampling) {
      cinfo.comp_info[0].h_samp_factor = c.sampling / 10;
      cinfo.comp_info[0].v_samp_factor = c.sampling % 10;
    }
    if (c.progressive) jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = c.restartRows;
    cinfo.restart_interval = JDIMENSION(c.restartMcus);
  };
  const int components = c.sampling ? 3 : 1;
  return qb::test::WriteWithLibjpeg(w, h, c.sampling ? JCS_RGB : JCS_GRAYSCALE, setUp, [&](int y, uint8_t* row) {
    for (int x = 0; x < w; ++x) {
      const bool block = ((x / 37) ^ (y / 23)) & 1;
      uint8_t* p = &row[size_t(x) * components];
      p[0] = uint8_t(block ? 230 - y % 200 : x % 256);
      if (c.sampling) {
        p[1] = uint8_t(block ? 20 + (x * y) % 50 : 200);
        p[2] = uint8_t((y * 3 + x / 5) % 256);
      }
    }
  });
}

// Restart marker number k (0-based) of a file, as an offset.
size_t RestartMarkerAt(const Bytes& f, size_t k) {
  for (size_t i = 0; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] >= 0xD0 && f[i + 1] <= 0xD7 && k-- == 0) return i;
  return f.size();
}

class JpegOnThreadsFiles : public testing::TestWithParam<BandCase> {};

// A decode split on several threads gives the ordinary decode's pixels (and
// a hostile file fails as the ordinary decode does) at every thread count;
// the height is no multiple of the MCU.
TEST_P(JpegOnThreadsFiles, DecodeToTheOrdinaryPixels) {
  const BandCase& c = GetParam();
  Bytes file = WriteJpeg(c, 1205, 883);
  const std::string name = c.name;
  // Hostile variants of a file with markers at every MCU row: a marker
  // gone (the count the frame promises is wrong), and one out of turn.
  const auto marker = file.begin() + std::ptrdiff_t(RestartMarkerAt(file, 20));
  if (name == "MarkerMissing") file.erase(marker, marker + 2);
  if (name == "MarkerOutOfTurn") marker[1] ^= 0x02;
  qb::work::SetThreadCount(1);
  EXPECT_EQ(1, rastrum::JpegDecodePieces(file));
  rastrum::VectorAllocator single;
  const int singleResult = rastrum::DecodeImage(file, single);
  EXPECT_EQ(singleResult == rastrum::kOk, !name.starts_with("Marker")) << name;
  for (int threads : {2, 3}) {
    qb::work::SetThreadCount(threads);
    const int pieces = c.split == Split::kBands ? 2 * threads : c.split == Split::kTwoSides ? 2 : 1;
    EXPECT_EQ(pieces, rastrum::JpegDecodePieces(file)) << name << " on " << threads;
    rastrum::VectorAllocator banded;
    EXPECT_EQ(singleResult, rastrum::DecodeImage(file, banded)) << name << " on " << threads;
    if (singleResult == rastrum::kOk) {
      EXPECT_TRUE(single.block == banded.block) << name << " on " << threads;
    }
  }
  qb::work::SetThreadCount(0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegOnThreadsFiles,
    testing::Values(BandCase{"EveryMcuRow", 22, false, 1, 0, Split::kBands},
                    BandCase{"EveryThreeRows", 22, false, 3, 0, Split::kBands},
                    BandCase{"FullChroma", 11, false, 1, 0, Split::kBands},
                    BandCase{"ChromaHalvedAcross", 21, false, 2, 0, Split::kBands},
                    BandCase{"ChromaHalvedDown", 12, false, 5, 0, Split::kBands},
                    BandCase{"Grey", 0, false, 4, 0, Split::kBands},
                    BandCase{"Progressive", 22, true, 1, 0, Split::kWhole},
                    BandCase{"IntervalsAcrossRows", 22, false, 0, 80, Split::kTwoSides},
                    BandCase{"NoMarkers", 22, false, 0, 0, Split::kTwoSides},
                    BandCase{"NoMarkersGrey", 0, false, 0, 0, Split::kTwoSides},
                    BandCase{"MarkerMissing", 22, false, 1, 0, Split::kTwoSides},
                    BandCase{"MarkerOutOfTurn", 22, false, 1, 0, Split::kTwoSides}),
    [](const testing::TestParamInfo<BandCase>& info) { return std::string(info.param.name); });

// The entropy-coded data of a file without restart markers: from the end of
// the scan header to the end of the picture.
std::pair<size_t, size_t> ScanDataOf(const Bytes& f) {
  size_t at = 2;
  while (!(f[at] == 0xFF && f[at + 1] == 0xDA)) at += 2 + (size_t(f[at + 2]) << 8 | f[at + 3]);
  return {at + 2 + (size_t(f[at + 2]) << 8 | f[at + 3]), f.size() - 2};
}

// Entropy decoding cut in two: the bottom decoder, started anywhere in the
// data, meets the top one and the pixels are the ordinary decode's, for
// every sampling; a file damaged after the cut (cut short, or its bits
// changed) fails, or gives the same pixels, as the ordinary decode does.
TEST(JpegSplitDecode, GivesTheOrdinaryDecodeWhereverTheCutFalls) {
  for (int sampling : {22, 11, 21, 12, 0}) {
    const Bytes file = WriteJpeg(BandCase{"", sampling, false, 0, 0, Split::kTwoSides}, 1205, 883);
    const auto [start, end] = ScanDataOf(file);
    Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(start + (end - start) * 4 / 5));
    cut.insert(cut.end(), {0xFF, 0xD9});
    Bytes garbled = file;
    for (size_t i = start + (end - start) * 3 / 4, n = 0; n < 40; ++i)
      if (garbled[i] != 0xFF && garbled[i - 1] != 0xFF && garbled[i] != 0x00) garbled[i] ^= 0x5A, ++n;
    for (const Bytes* f : std::initializer_list<const Bytes*>{&file, &cut, &garbled}) {
      qb::work::SetThreadCount(1);
      rastrum::VectorAllocator single;
      const int singleResult = rastrum::DecodeImage(*f, single);
      EXPECT_EQ(singleResult == rastrum::kOk, f != &cut) << sampling;
      qb::work::SetThreadCount(2);
      // Side by side, and with the bottom decoder done first: then the
      // two surely meet, whatever the threads' timing.
      for (int percent : {1, 37, 95})
        for (bool bottomFirst : {false, true}) {
          rastrum::SetJpegSplitPoint(percent, bottomFirst);
          const uint64_t meetings = rastrum::JpegSplitMeetings();
          rastrum::VectorAllocator split;
          EXPECT_EQ(singleResult, rastrum::DecodeImage(*f, split)) << sampling << " at " << percent;
          if (singleResult == rastrum::kOk) EXPECT_TRUE(single.block == split.block) << sampling << " at " << percent;
          if (f == &file && bottomFirst) EXPECT_EQ(meetings + 1, rastrum::JpegSplitMeetings()) << sampling << " at " << percent;
        }
    }
  }
  rastrum::SetJpegSplitPoint(0);
  qb::work::SetThreadCount(0);
}

// Damaged at random (bytes changed, markers made, the data cut short or
// lengthened), a file whose entropy decoding is cut in two fails, or gives
// the same pixels, as the ordinary decode does.
TEST(JpegSplitDecode, RandomDamageEndsAsTheOrdinaryDecode) {
  const Bytes file = WriteJpeg(BandCase{"", 22, false, 0, 0, Split::kTwoSides}, 1205, 883);
  const auto [start, end] = ScanDataOf(file);
  uint32_t seed = 12345;
  const auto next = [&seed](uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  for (int round = 0; round < 24; ++round) {
    Bytes f = file;
    const auto at = [&] { return start + next(uint32_t(end - start)); };
    switch (round % 4) {
      case 0: for (int i = 0; i < 1 + round; ++i) f[at()] = uint8_t(next(256)); break;
      case 1: f[at()] = 0xFF; f[at()] = 0xFF; break;  // a marker, or a stuffed byte lost
      case 2: f.erase(f.begin() + std::ptrdiff_t(at()), f.end() - 2); break;
      case 3: f.insert(f.begin() + std::ptrdiff_t(at()), 40 + next(400), uint8_t(next(256))); break;
    }
    qb::work::SetThreadCount(1);
    rastrum::VectorAllocator single;
    const int singleResult = rastrum::DecodeImage(f, single);
    qb::work::SetThreadCount(2);
    rastrum::SetJpegSplitPoint(1 + int(next(98)));
    rastrum::VectorAllocator split;
    EXPECT_EQ(singleResult, rastrum::DecodeImage(f, split)) << round;
    if (singleResult == rastrum::kOk) EXPECT_TRUE(single.block == split.block) << round;
  }
  rastrum::SetJpegSplitPoint(0);
  qb::work::SetThreadCount(0);
}

TEST(TiffOnThreads, StripsReadOnEveryThreadGiveThePictureSaved) {
  for (uint16_t bits : {24, 8}) {
    const Bytes block = qb::test_blocks::MakeBlock(1500, 1003, bits, 77);
    Bytes file;
    ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kTiff, 100, file));
    qb::work::SetThreadCount(1);
    const Bytes single = Decoded(file);
    qb::work::SetThreadCount(3);
    EXPECT_EQ(single, Decoded(file)) << bits;
    // Lossless: the saved colours, row for row (the source's padding bytes
    // are marked, the decoded block's are not).
    const auto source = qb::test_blocks::LayoutOf(block), decoded = qb::test_blocks::LayoutOf(single);
    const qb::dib::ConstImageView in = qb::dib::PixelsOf(block.data(), source);
    const qb::dib::ConstImageView back = qb::dib::PixelsOf(single.data(), decoded);
    int differing = 0;
    for (int32_t y = 0; y < 1003; ++y)
      for (int32_t x = 0; x < 1500; ++x) {
        const uint8_t* p = bits == 24 ? in.Row(y) + 3 * x : block.data() + 40 + 4 * in.Row(y)[x];
        differing += std::memcmp(p, back.Row(y) + 3 * x, 3) != 0;
      }
    EXPECT_EQ(0, differing) << bits;
  }
  qb::work::SetThreadCount(0);
}

TEST(ResizeOnThreads, GivesTheSingleThreadedBytes) {
  // Shrinking (by less than 4, and by more: block means first), enlarging,
  // narrower and taller, and the fast mode.
  const Bytes block = qb::test_blocks::MakeBlock(1500, 1003, 24, 11);
  for (auto [w, h, mode] : {std::tuple{700, 501, 0}, {300, 200, 0}, {2100, 1333, 0}, {333, 1100, 0}, {160, 107, 1}}) {
    Bytes single;
    for (int threads : {1, 2, 3}) {
      qb::work::SetThreadCount(threads);
      rastrum::VectorAllocator out;
      ASSERT_EQ(rastrum::kOk, rastrum::Resize(block, w, h, mode, out));
      if (threads == 1) single = out.block;
      EXPECT_EQ(single, out.block) << w << "x" << h << " mode " << mode << " on " << threads << " threads";
    }
  }
  qb::work::SetThreadCount(0);
}

}  // namespace
