// The EXIF block of every format that carries one, read from real files:
// the goexif camera photo (QB_GOEXIF_DIR), turned a quarter, is made into a
// HEIC and an AVIF (heif-enc), WebPs (cwebp, ImageMagick), PNGs (exiftool's
// eXIf before the image data, ImageMagick's after it) and a TIFF (exiftool
// writes the camera entries into its own directories). Each file's block
// must give every tag the source JPEG's block gives, value for value.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "metadata/portable/exif_containers.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/exif_tags.h"
#include "metadata/portable/jpeg_exif.h"

namespace qb::exif {
namespace {

namespace fs = std::filesystem;

struct Read {
  JpegExifReader reader;
  ExifInfo info{};
  JpegExifReader::WalkResult walk = JpegExifReader::WalkResult::kFailed;
};

void ReadFile(const fs::path& path, Read& r) {
  r.reader.SetConsole([](const char*) {});
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file) << path;
  FileStream stream(file);
  r.walk = r.reader.Read(stream, r.info);
  std::fclose(file);
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool Same(const ExifTagValue& a, const ExifTagValue& b) {
  if (a.kind != b.kind || a.text != b.text || a.bytes != b.bytes || a.numbers.size() != b.numbers.size()) return false;
  for (std::size_t i = 0; i < a.numbers.size(); ++i)
    if (a.numbers[i].kind != b.numbers[i].kind || a.numbers[i].whole != b.numbers[i].whole ||
        a.numbers[i].real != b.numbers[i].real)
      return false;
  return true;
}

TEST(ExifContainers, EveryFormatGivesTheCameraBlock) {
  const char* dir = std::getenv("QB_GOEXIF_DIR");
  if (dir == nullptr || !fs::is_regular_file(fs::path(dir) / "sample1.jpg")) GTEST_SKIP() << "no QB_GOEXIF_DIR";
  if (!Shell("(command -v exiftool && command -v cwebp && command -v heif-enc && command -v convert)"))
    GTEST_SKIP() << "exiftool, cwebp, heif-enc or ImageMagick missing";
  const fs::path out = fs::temp_directory_path() / ("qb_exif_containers_" + std::to_string(getpid()));
  fs::create_directories(out);
  const std::string o = out.string() + "/";
  ASSERT_TRUE(Shell("exiftool -Orientation#=6 -o " + o + "src.jpg " + std::string(dir) + "/sample1.jpg"));
  ASSERT_TRUE(Shell("convert " + o + "src.jpg -strip " + o + "plain.png && convert " + o + "src.jpg -strip " + o +
                  "plain.tif"));

  struct Case {
    const char* file;
    const char* make;  // the shell line that makes it from src.jpg
    ExifContainer kind;
    int orientation;  // what the kept block and the pixels are left with
  };
  const Case cases[] = {
      {"a.heic", "heif-enc -q 60 src.jpg -o a.heic", ExifContainer::kHeif, 1},
      {"a.avif", "heif-enc -A -q 60 src.jpg -o a.avif", ExifContainer::kHeif, 1},
      {"a.webp", "cwebp -metadata exif src.jpg -o a.webp", ExifContainer::kWebp, 6},
      {"im.webp", "convert src.jpg im.webp", ExifContainer::kWebp, 6},
      {"a.png", "exiftool -b -exif src.jpg >e.bin && exiftool '-exif<=e.bin' -o a.png plain.png", ExifContainer::kPng, 6},
      {"im.png", "convert src.jpg im.png", ExifContainer::kPng, 6},
      {"a.tif", "exiftool -tagsfromfile src.jpg -exif:all -o a.tif plain.tif", ExifContainer::kTiff, 6},
  };
  Read source;
  ReadFile(out / "src.jpg", source);
  ASSERT_TRUE(source.info.valid);
  const std::vector<std::uint8_t>& want = source.reader.exifBlock();
  // Directory pointers differ in every block made anew. A TIFF's block is
  // made of its directories without thumbnail, maker notes and
  // interoperability directory; exiftool writes a few values into it
  // converted (2.8 for the APEX aperture 3, 23.3 for 23.33 mm) or not at all.
  const std::set<std::string> pointers = {"ExifOffset", "GPSInfo", "InteropOffset"};
  const std::set<std::string> notFromTiff = {"MakerNote", "InteropIndex", "InteropVersion", "ThumbnailOffset",
                                             "ThumbnailLength", "Compression", "CompressedBitsPerPixel",
                                             "MaxApertureValue", "FocalLength", "CFAPattern"};

  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(Shell("cd " + o + " && " + c.make));
    Read r;
    ReadFile(out / c.file, r);
    EXPECT_EQ(c.kind, r.reader.container());
    ASSERT_EQ(JpegExifReader::WalkResult::kReachedImage, r.walk) << r.reader.exifError();
    ASSERT_TRUE(r.info.valid) << r.reader.exifError();
    EXPECT_STREQ("NIKON CORPORATION", r.info.make);
    EXPECT_STREQ("NIKON D2H", r.info.model);
    EXPECT_STREQ("2003:11:23 18:07:37", r.info.dateTime);
    // The quarter turn stays to be done, but for HEIF, whose decoder does it.
    EXPECT_EQ(c.orientation, ReadOrientation(r.reader.exifBlock()));
    EXPECT_EQ(c.orientation, r.reader.pendingOrientation());
    const std::vector<std::uint8_t>& got = r.reader.exifBlock();
    int compared = 0;
    for (const std::string& name : ExifTagNames(want)) {
      if (pointers.count(name) || name == "Orientation" || (c.kind == ExifContainer::kTiff && notFromTiff.count(name))) continue;
      const std::optional<ExifTagValue> a = FindExifValue(want, name), b = FindExifValue(got, name);
      ASSERT_TRUE(a.has_value());
      EXPECT_TRUE(b && Same(*a, *b)) << name;
      ++compared;
    }
    EXPECT_GT(compared, 40);
    // The file cut short: never a read outside it (the sanitizer build
    // watches), and nothing found in its bare head.
    const std::uintmax_t size = fs::file_size(out / c.file);
    for (std::uintmax_t cut : {size - 1, size / 3, std::uintmax_t{12}}) {
      fs::resize_file(out / c.file, cut);
      Read cutShort;
      ReadFile(out / c.file, cutShort);
      if (cut == 12) EXPECT_TRUE(cutShort.reader.exifBlock().empty());
    }
  }
  fs::remove_all(out);
}

}  // namespace
}  // namespace qb::exif

namespace qb::exif {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Be32(std::uint32_t v) { return {Bytes::value_type(v >> 24), Bytes::value_type(v >> 16), Bytes::value_type(v >> 8), Bytes::value_type(v)}; }
Bytes Le32(std::uint32_t v) { return {Bytes::value_type(v), Bytes::value_type(v >> 8), Bytes::value_type(v >> 16), Bytes::value_type(v >> 24)}; }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }
Bytes Box(const char* type, const Bytes& body) { return Cat({Be32(std::uint32_t(body.size() + 8)), Text(type), body}); }

// A TIFF block with one IFD0 entry: Orientation 3.
const Bytes kTiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};

// A HEIF file whose Exif item (id 1) iloc places as `extent` (construction
// method, offset, length), with the item's bytes in idat: the offset of the
// TIFF header after its first four bytes (`skip`), "Exif" 0 0, the block.
Bytes Heif(std::uint16_t method, std::uint32_t offset, std::uint32_t length, std::uint32_t skip = 6) {
  const Bytes item = Cat({Be32(skip), Text("Exif"), {0, 0}, kTiff});
  const Bytes infe = Box("infe", Cat({{2, 0, 0, 0}, {0, 1}, {0, 0}, Text("Exif"), {0}}));
  const Bytes iinf = Box("iinf", Cat({{0, 0, 0, 0}, {0, 1}, infe}));
  // Version 1: offset and length 4 bytes, no base offset, no index.
  const Bytes iloc = Box("iloc", Cat({{1, 0, 0, 0}, {0x44, 0x00}, {0, 1}, {0, 1}, {0, Bytes::value_type(method)},
                                     {0, 0}, {0, 1}, Be32(offset), Be32(length)}));
  const Bytes meta = Box("meta", Cat({{0, 0, 0, 0}, iinf, iloc, Box("idat", item)}));
  return Cat({Box("ftyp", Cat({Text("heic"), {0, 0, 0, 0}, Text("mif1")})), meta});
}

ExifSearch Find(const Bytes& file, Bytes& tiff) {
  MemoryStream stream(file);
  std::uint8_t head[32] = {};
  const std::size_t n = std::min(file.size(), sizeof head);
  std::memcpy(head, file.data(), n);
  return FindExifTiff(ContainerOf({head, n}), stream, tiff);
}

// Hand-made structures: the places each format allows, and lengths and
// offsets that point outside the file or past what a segment holds.
TEST(ExifContainers, StructuresAreCheckedBeforeAnyRead) {
  const Bytes item = Cat({Be32(6), Text("Exif"), {0, 0}, kTiff});
  const Bytes webpChunk = Cat({Text("EXIF"), Le32(std::uint32_t(kTiff.size())), kTiff});
  const Bytes png = Cat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}});
  struct Case {
    const char* name;
    Bytes file;
    ExifSearch want;
  } cases[] = {
      {"heif idat item", Heif(1, 0, std::uint32_t(item.size())), ExifSearch::kFound},
      {"heif idat item to its end", Heif(1, 0, 0), ExifSearch::kFound},
      {"heif extent past idat", Heif(1, 4, std::uint32_t(item.size())), ExifSearch::kDamaged},
      {"heif extent past the file", Heif(0, 0xFFFFFF00u, 64), ExifSearch::kDamaged},
      {"heif item larger than a segment", Heif(0, 0, 0x100000), ExifSearch::kTooLarge},
      {"heif method 2", Heif(2, 0, 8), ExifSearch::kDamaged},
      {"heif offset 0 before Exif 0 0", Heif(1, 0, 0, 0), ExifSearch::kFound},
      {"heif offset past the item", Heif(1, 0, 0, 1000), ExifSearch::kDamaged},
      {"webp chunk", Cat({Text("RIFF"), Le32(std::uint32_t(4 + webpChunk.size())), Text("WEBP"), webpChunk}),
       ExifSearch::kFound},
      {"webp chunk past the file", Cat({Text("RIFF"), Le32(100), Text("WEBP"), Text("EXIF"), Le32(0xFFFFFFF0u), kTiff}),
       ExifSearch::kDamaged},
      {"png eXIf", Cat({png, Be32(std::uint32_t(kTiff.size())), Text("eXIf"), kTiff, Be32(0)}), ExifSearch::kFound},
      {"png chunk past the file", Cat({png, Be32(0x7FFFFFF0u), Text("IDAT"), kTiff}), ExifSearch::kDamaged},
      {"png eXIf not TIFF", Cat({png, Be32(4), Text("eXIf"), Text("JUNK"), Be32(0)}), ExifSearch::kDamaged},
      {"tiff", kTiff, ExifSearch::kFound},
      {"tiff IFD0 past the file", Cat({{'I', 'I', 42, 0}, Le32(0x7FFFFFFF)}), ExifSearch::kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes tiff;
    EXPECT_EQ(c.want, Find(c.file, tiff));
    if (c.want == ExifSearch::kFound) {
      // The one entry comes through: Orientation 3 (1 for HEIF, whose
      // decoder turns the picture, once the reader keeps the block).
      EXPECT_EQ(3, ReadOrientation(Cat({{0, 0}, Text("Exif"), {0, 0}, tiff})));
      JpegExifReader reader;
      ExifInfo info{};
      MemoryStream stream(c.file);
      EXPECT_EQ(JpegExifReader::WalkResult::kReachedImage, reader.Read(stream, info));
      EXPECT_EQ(reader.container() == ExifContainer::kHeif ? 1 : 3, ReadOrientation(reader.exifBlock()));
    } else {
      EXPECT_TRUE(tiff.empty());
    }
  }
}

}  // namespace
}  // namespace qb::exif
