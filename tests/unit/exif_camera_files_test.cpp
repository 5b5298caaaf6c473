// The EXIF reader on real camera files, checked file by file against
// exiftool, an independent reader. The files come from Debian's
// golang-github-rwcarlsen-goexif-dev package (QB_GOEXIF_DIR names its exif
// folder); most are cut short after their EXIF segment, a few are damaged.
#include "metadata/portable/jpeg_exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace qb::exif {
namespace {

namespace fs = std::filesystem;
using Walk = JpegExifReader::WalkResult;

// The members of one object of exiftool's JSON array, in printed order.
// Values are kept as text: strings unescaped, numbers as printed.
using Members = std::vector<std::pair<std::string, std::string>>;

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : m_s(text) {}

  std::vector<Members> Objects() {
    std::vector<Members> out;
    if (!Take('[')) return out;
    while (Take('{')) {
      Members members;
      while (!Take('}')) {
        std::string key = String();
        if (!Take(':')) return out;
        members.emplace_back(std::move(key), Value());
        Take(',');
        if (m_i >= m_s.size()) return out;
      }
      out.push_back(std::move(members));
      Take(',');
    }
    return out;
  }

 private:
  void Space() {
    while (m_i < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_i]))) ++m_i;
  }
  bool Take(char c) {
    Space();
    if (m_i < m_s.size() && m_s[m_i] == c) {
      ++m_i;
      return true;
    }
    return false;
  }
  std::string String() {
    std::string out;
    if (!Take('"')) return out;
    while (m_i < m_s.size() && m_s[m_i] != '"') {
      char c = m_s[m_i++];
      if (c == '\\' && m_i < m_s.size()) {
        c = m_s[m_i++];
        if (c == 'n') c = '\n';
        else if (c == 't') c = '\t';
        else if (c == 'r') c = '\r';
        else if (c == 'u' && m_i + 4 <= m_s.size()) {  // only ASCII escapes matter here
          c = static_cast<char>(std::strtol(m_s.substr(m_i, 4).c_str(), nullptr, 16));
          m_i += 4;
        }
      }
      out += c;
    }
    ++m_i;
    return out;
  }
  std::string Value() {
    Space();
    if (m_i < m_s.size() && m_s[m_i] == '"') return String();
    const std::size_t start = m_i;
    int depth = 0;  // a list value is kept as its text
    while (m_i < m_s.size() && (depth > 0 || (m_s[m_i] != ',' && m_s[m_i] != '}'))) {
      if (m_s[m_i] == '[') ++depth;
      if (m_s[m_i] == ']') --depth;
      ++m_i;
    }
    std::string v = m_s.substr(start, m_i - start);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
    return v;
  }

  const std::string& m_s;
  std::size_t m_i = 0;
};

// The tags our reader uses. -a keeps duplicates and -G1 names the directory
// of each value: the reader takes the last value in traversal order (the
// thumbnail directory IFD1 after IFD0, an Exif directory where IFD0 links
// it), which exiftool's default choice of one value per tag hides.
// exiftool lists the values of one tag in the order it met them.
const char* const kTags =
    "-Warning -Make -Model -DateTimeOriginal -ExifVersion -ExposureTime -FNumber -ApertureValue "
    "-MaxApertureValue -ShutterSpeedValue -FocalLength -XResolution -YResolution -ResolutionUnit "
    "-BrightnessValue -Flash -FocalPlaneXResolution -FocalPlaneResolutionUnit -ExifImageWidth "
    "-ExifImageHeight";

// exiftool -n -j on many files at once, by file path.
std::map<std::string, Members> RunExiftool(const std::vector<std::string>& paths) {
  std::string command = std::string("exiftool -n -j -a -G1 ") + kTags;
  for (const std::string& p : paths) command += " '" + p + "'";
  command += " 2>/dev/null";
  std::string text;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  std::map<std::string, Members> byPath;
  for (Members& m : JsonReader(text).Objects()) {
    for (const auto& [key, value] : m)
      if (key == "SourceFile") byPath[value] = m;
  }
  return byPath;
}

// The last value of a tag from the directories our reader walks (IFD0, the
// Exif and interoperability directories, and the directories chained after
// IFD0). JFIF, Photoshop, GPS and maker-note values do not count.
std::optional<std::string> Last(const Members& members, const std::string& tag) {
  static const char* const kGroups[] = {"IFD0", "ExifIFD", "InteropIFD", "IFD1", "IFD2"};
  std::optional<std::string> found;
  for (const auto& [key, value] : members) {
    const std::size_t colon = key.find(':');
    if (colon == std::string::npos || key.substr(colon + 1) != tag) continue;
    if (std::find(std::begin(kGroups), std::end(kGroups), key.substr(0, colon)) != std::end(kGroups))
      found = value;
  }
  return found;
}
double Number(const Members& m, const std::string& tag) {
  const std::optional<std::string> v = Last(m, tag);
  return v ? std::strtod(v->c_str(), nullptr) : 0.0;
}
std::string Member(const Members& members, const std::string& key) {
  for (const auto& [k, v] : members)
    if (k == key) return v;
  return {};
}
// exiftool's warnings that begin with `prefix`.
std::vector<std::string> Warnings(const Members& members, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& [k, v] : members)
    if (k == "ExifTool:Warning" && v.rfind(prefix, 0) == 0) found.push_back(v);
  return found;
}
// Tags whose value exiftool withholds because it finds the value's offset
// implausible ("Suspicious IFD0 offset for XResolution"); the reader only
// asks that the value lie inside the block.
std::set<std::string> Withheld(const Members& members) {
  std::set<std::string> tags;
  for (const std::string& w : Warnings(members, "Suspicious ")) {
    const std::size_t at = w.find(" offset for ");
    if (at != std::string::npos) tags.insert(w.substr(at + 12));
  }
  return tags;
}
bool HasExifValue(const Members& m) {
  for (const char* tag : {"Make", "Model", "XResolution", "ExifVersion", "ExposureTime"})
    if (Last(m, tag)) return true;
  return false;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Millimetres per ResolutionUnit or FocalPlaneResolutionUnit value (1,
// "none", is read as inches); 25.4 over it turns a resolution per unit into
// one per inch.
std::optional<double> MillimetresPerUnit(int unit) {
  static const std::map<int, double> kMm = {{1, 25.4}, {2, 25.4}, {3, 10.0}, {4, 1.0}, {5, 0.001}};
  const auto it = kMm.find(unit);
  return it == kMm.end() ? std::nullopt : std::optional<double>(it->second);
}

// The camera data the reader should give, computed from exiftool's raw
// values (-n: ShutterSpeedValue in seconds, ApertureValue and
// MaxApertureValue as F-numbers).
CameraData Expected(const Members& m) {
  CameraData d;
  const std::string make = Last(m, "Make").value_or("");
  if (!make.empty()) {
    // exiftool drops trailing spaces; the fields keep 31 and 39 characters.
    d.cameraMake = TrimRight(make.substr(0, 31));
    d.cameraModel = TrimRight(Last(m, "Model").value_or("").substr(0, 39));
  }
  d.dateTime = Last(m, "DateTimeOriginal").value_or("").substr(0, 19);
  d.exifVersion = Last(m, "ExifVersion").value_or("").substr(0, 4);

  if (const std::optional<double> perUnitMm = MillimetresPerUnit(int(Number(m, "ResolutionUnit")))) {
    d.xResolution = float(Number(m, "XResolution") * 25.4 / *perUnitMm);
    d.yResolution = float(Number(m, "YResolution") * 25.4 / *perUnitMm);
  }
  d.flashUsed = (int(Number(m, "Flash")) & 7) != 0 ? "Yes" : "No";

  const double focal = Number(m, "FocalLength");
  d.focalLength = float(focal);
  const double planeX = Number(m, "FocalPlaneXResolution");
  const std::optional<double> planeMm = MillimetresPerUnit(int(Number(m, "FocalPlaneResolutionUnit")));
  const double pixels = std::max({0.0, Number(m, "ExifImageWidth"), Number(m, "ExifImageHeight")});
  if (focal != 0 && planeX != 0 && planeMm && pixels != 0) {
    const double sensorMm = pixels * *planeMm / planeX;
    d.focalLength = float(std::floor(focal / sensorMm * 36 + 0.5));  // 36 mm: the film frame's width
  }

  // ExposureTime comes before ShutterSpeedValue in a directory; the latter
  // only fills in for a missing (or zero) exposure time.
  double exposure = Number(m, "ExposureTime");
  if (exposure == 0) exposure = Number(m, "ShutterSpeedValue");
  d.exposureTime = float(exposure);
  if (exposure != 0 && float(exposure) <= 0.5f) d.exposureTime = float(std::floor(1 / float(exposure) + 0.5));

  double aperture = Number(m, "FNumber");
  if (aperture == 0) aperture = Number(m, "ApertureValue");
  if (aperture == 0) aperture = Number(m, "MaxApertureValue");
  d.aperture = float(aperture);
  d.brightness = float(Number(m, "BrightnessValue"));
  return d;
}

bool Near(double want, double got, double relative) {
  return std::fabs(want - got) <= relative * std::max(1.0, std::fabs(want));
}

std::string Summary(const CameraData& d) {
  std::ostringstream s;
  s << "make='" << d.cameraMake << "' model='" << d.cameraModel << "' date='" << d.dateTime << "' version='"
    << d.exifVersion << "' exposure=" << d.exposureTime << " aperture=" << d.aperture << " focal=" << d.focalLength
    << " res=" << d.xResolution << "x" << d.yResolution << " brightness=" << d.brightness << " flash=" << d.flashUsed;
  return s.str();
}

struct OurRead {
  Walk result;
  std::string error;
  ExifInfo info;
  std::vector<std::uint8_t> block;
};

TEST(ExifCameraFiles, AgreeWithExiftool) {
  const char* dirEnv = std::getenv("QB_GOEXIF_DIR");
  if (dirEnv == nullptr || !fs::is_directory(dirEnv)) GTEST_SKIP() << "QB_GOEXIF_DIR names no folder";
  const fs::path dir(dirEnv);
  std::vector<std::string> files;
  for (const fs::path& sub : {dir, dir / "samples", dir / "corrupt"}) {
    if (!fs::is_directory(sub)) continue;
    for (const auto& entry : fs::directory_iterator(sub))
      if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  // Our reader first, each file with a fresh picture state.
  const fs::path temp = fs::temp_directory_path() / ("qb_exif_segments_" + std::to_string(getpid()));
  fs::create_directories(temp);
  std::map<std::string, OurRead> ours;
  std::map<std::string, std::string> segmentFile;  // file -> its EXIF segment alone
  for (const std::string& path : files) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, f) << path;
    JpegExifReader reader;
    reader.SetConsole([](const char*) {});
    FileStream stream(f);
    OurRead r;
    r.result = reader.Read(stream, r.info);
    std::fclose(f);
    r.error = reader.exifError();
    r.block = reader.exifBlock();
    if (r.result == Walk::kFailed && !r.block.empty()) {
      // exiftool reads nothing of a file whose segments are cut short; the
      // EXIF segment alone between SOI and EOI it reads.
      const std::string name = (temp / fs::path(path).filename()).string();
      std::FILE* out = std::fopen(name.c_str(), "wb");
      ASSERT_NE(nullptr, out);
      const std::uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1}, tail[] = {0xFF, 0xD9};
      std::fwrite(head, 1, sizeof head, out);
      std::fwrite(r.block.data(), 1, r.block.size(), out);
      std::fwrite(tail, 1, sizeof tail, out);
      std::fclose(out);
      segmentFile[path] = name;
    }
    ours[path] = std::move(r);
  }

  const std::map<std::string, Members> whole = RunExiftool(files);
  std::vector<std::string> segments;
  for (const auto& [path, name] : segmentFile) segments.push_back(name);
  const std::map<std::string, Members> alone = RunExiftool(segments);
  fs::remove_all(temp);
  ASSERT_EQ(files.size(), whole.size()) << "exiftool (libimage-exiftool-perl) must be installed";

  int compared = 0, cutShort = 0, withoutExif = 0, invalidBlock = 0, skippedValues = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(fs::path(path).filename().string());
    const OurRead& r = ours[path];
    const Members& wholeTags = whole.at(path);
    const bool hadFailure = HasFailure();

    // The walk reaches the image data, or stops where exiftool also finds
    // the file cut short (its "JPEG format error").
    if (r.result == Walk::kFailed) {
      ++cutShort;
      EXPECT_TRUE(r.error == "Premature end of file?" || r.error == "invalid marker") << r.error;
      EXPECT_EQ("JPEG format error", Member(wholeTags, "ExifTool:Warning"));
    }
    const Members* tags = &wholeTags;
    if (segmentFile.count(path)) tags = &alone.at(segmentFile.at(path));

    if (r.block.empty()) {
      // No EXIF segment: exiftool finds no EXIF value either.
      ++withoutExif;
      EXPECT_FALSE(r.info.valid);
      EXPECT_FALSE(HasExifValue(*tags));
      continue;
    }
    if (!r.info.valid) {
      // An entry of IFD0 whose value would lie far past the block ends
      // that directory, and a failure in the first directory makes the
      // whole block invalid, so no camera data is taken. exiftool instead
      // drops just that entry, with a warning, and reads the others.
      ++invalidBlock;
      EXPECT_FALSE(Warnings(*tags, "Invalid size (").empty()) << "exiftool finds the same damaged entry";
      continue;
    }

    ++compared;
    CameraData got;
    ApplyCameraData(r.info, got);
    const CameraData want = Expected(*tags);
    // A value derived from a tag that exiftool withheld is not compared.
    const std::set<std::string> withheld = Withheld(*tags);
    const auto known = [&](std::initializer_list<const char*> from) {
      const bool anyWithheld = std::any_of(from.begin(), from.end(), [&](const char* t) { return withheld.count(t) > 0; });
      skippedValues += anyWithheld ? 1 : 0;
      return !anyWithheld;
    };
    // The reader keeps trailing spaces of maker and model as stored.
    if (known({"Make", "Model"})) {
      EXPECT_EQ(want.cameraMake, TrimRight(got.cameraMake));
      EXPECT_EQ(want.cameraModel, TrimRight(got.cameraModel));
    }
    if (known({"DateTimeOriginal"})) {
      EXPECT_EQ(want.dateTime, got.dateTime);
    }
    if (known({"ExifVersion"})) {
      EXPECT_EQ(want.exifVersion, got.exifVersion);
    }
    if (known({"Flash"})) {
      EXPECT_EQ(want.flashUsed, got.flashUsed);
    }
    if (known({"ExposureTime", "ShutterSpeedValue"})) {
      EXPECT_PRED3(Near, want.exposureTime, got.exposureTime, 1e-5);
    }
    if (known({"FNumber", "ApertureValue", "MaxApertureValue"})) {
      EXPECT_PRED3(Near, want.aperture, got.aperture, 1e-5);
    }
    if (known({"XResolution", "ResolutionUnit"})) {
      EXPECT_PRED3(Near, want.xResolution, got.xResolution, 1e-5);
    }
    if (known({"YResolution", "ResolutionUnit"})) {
      EXPECT_PRED3(Near, want.yResolution, got.yResolution, 1e-5);
    }
    if (known({"BrightnessValue"})) {
      EXPECT_PRED3(Near, want.brightness, got.brightness, 1e-5);
    }
    if (known({"FocalLength", "FocalPlaneXResolution", "FocalPlaneResolutionUnit", "ExifImageWidth", "ExifImageHeight"})) {
      if (r.info.sensorWidth != 0) {
        // A 35-mm equivalent rounds a quotient to a whole number; float and
        // double arithmetic may round a value near .5 apart.
        EXPECT_LE(std::fabs(want.focalLength - got.focalLength), 1.0f) << want.focalLength << " " << got.focalLength;
      } else {
        EXPECT_PRED3(Near, want.focalLength, got.focalLength, 1e-5);
      }
    }

    if (HasFailure() && !hadFailure)
      std::printf("  %s\n    ours:     %s\n    exiftool: %s\n", path.c_str(), Summary(got).c_str(),
                  Summary(want).c_str());
  }
  std::printf("[ camera files ] %zu files: %d compared with exiftool (%d values withheld by exiftool), "
              "%d cut short after their EXIF segment, %d with an invalid EXIF block, %d without one\n",
              files.size(), compared, skippedValues, cutShort, invalidBlock, withoutExif);
  EXPECT_GE(compared, 50);
}

}  // namespace
}  // namespace qb::exif
