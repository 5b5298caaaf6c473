// Colour adjustment (hue 120) as the shipped 32-bit DLL runs it, in
// megapixels per second: the plain per-pixel formula, then the SSE2 and
// AVX2 walks without and with the memory of colours, on one thread and
// on the pool. Each result is compared with the formula's bytes. The pixels of each photo are timed, and random pixels
// the size of the first. bench/colour_vs_opencv.sh runs it beside OpenCV.
//
//   colour_bench.exe [--sse2|--avx2] NAME=PHOTO.jpg...   (a level: that one only)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "base/portable/work_pool.h"
#include "modifiers/portable/color_adjust.h"
#include "base/portable/simd_level.h"
#include "rastrum/portable/codecs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qb::color::ColourMemory;

qb::dib::ImageView ViewOf(Bytes& block) {
  qb::dib::DibLayout layout;
  qb::dib::Validate(block, qb::dib::kDepth24, layout);
  return qb::dib::PixelsOf(block.data(), layout);
}

// The processor time of the whole process so far, every thread's.
double CpuSeconds() {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
#endif
}

struct Seconds {
  double wall, cpu;
};

// Five timed runs of job, each after an untimed prepare: the shortest
// time on the clock (the run the rest of a busy machine disturbed least)
// and the median processor time of all threads (Wine counts it in ticks
// of about 16 ms: a rough figure, none for a small picture).
template <class Prepare, class Job>
Seconds TimeRuns(Prepare prepare, Job job) {
  std::vector<double> walls, cpus;
  for (int i = 0; i < 5; ++i) {
    prepare();
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    job();
    walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpus.push_back(CpuSeconds() - cpu);
  }
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  return {walls[0], cpus[2]};
}

void Run(const char* name, const Bytes& original, const std::string& only) {
  const qb::color::Shifts shifts = qb::color::MakeShifts(120, 0, 0);
  Bytes work = original;
  const qb::dib::ImageView view = ViewOf(work);
  const double megapixels = double(view.width()) * view.height() / 1e6;
  const auto restore = [&] { work = original; };
  const Seconds scalar = TimeRuns(restore, [&] { qb::color::AdjustPixelsScalar(view, shifts); });
  const Bytes reference = work;
  std::printf("%-7.7s %-6s %-7s %7s %8.1f %8.1f\n", name, "scalar", "-", "1", megapixels / scalar.wall,
              scalar.cpu > 0 ? megapixels / scalar.cpu : 0.0);
  struct Level {
    const char* name;
    qb::simd::Level level;
  };
  for (const Level level : {Level{"sse2", qb::simd::Level::kSse2}, Level{"avx2", qb::simd::Level::kAvx2}}) {
    if (level.level > qb::simd::Available() || (!only.empty() && only != level.name)) continue;
    qb::simd::Limit(level.level);
    for (const ColourMemory memory : {ColourMemory::kNever, ColourMemory::kAuto, ColourMemory::kAlways}) {
      for (int threads : {1, 2}) {
        qb::work::SetThreadCount(threads);
        const Seconds seconds = TimeRuns(restore, [&] { qb::color::AdjustPixels(view, shifts, memory); });
        const char* memoryName = memory == ColourMemory::kNever ? "never" : memory == ColourMemory::kAuto ? "auto" : "always";
        std::printf("%-7.7s %-6s %-7s %7d %8.1f %8.1f%s\n", name, level.name, memoryName, threads,
                    megapixels / seconds.wall, seconds.cpu > 0 ? megapixels / seconds.cpu : 0.0,
                    work == reference ? "" : "  DIFFERENT BYTES");
      }
    }
  }
  qb::work::SetThreadCount(0);
  qb::simd::Limit(qb::simd::Level::kAvx2);
}

// NAME=PHOTO.jpg: the photo decoded into a 24-bit block, empty (and a
// message) when it cannot be.
Bytes Decode(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  rastrum::VectorAllocator decoded;
  qb::dib::DibLayout layout;
  if (rastrum::DecodeJpeg(file, decoded) != rastrum::kOk ||
      qb::dib::Validate(decoded.block, qb::dib::kDepth24, layout) != qb::dib::DibStatus::kOk) {
    std::fprintf(stderr, "%s: not a colour JPEG this build reads\n", path.c_str());
    return {};
  }
  return decoded.block;
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  int first = 1;
  if (argc > 1 && (std::string(argv[1]) == "--sse2" || std::string(argv[1]) == "--avx2")) {
    only = argv[1] + 2;
    first = 2;
  }
  if (argc <= first) {
    std::fprintf(stderr, "usage: colour_bench [--sse2|--avx2] NAME=PHOTO.jpg...\n");
    return 2;
  }
  std::printf("hue 120, megapixels per second: by the clock (best of 5) and per second of\n"
              "processor time, all threads (median of 5; 0: too short to count); random:\n"
              "random pixels the size of the first photo\n"
              "picture walk   memory  threads     MP/s  MP/cpu-s\n");
  for (int a = first; a < argc; ++a) {
    const std::string arg = argv[a];
    const std::size_t equals = arg.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "%s: expected NAME=PHOTO.jpg\n", arg.c_str());
      return 2;
    }
    const Bytes photo = Decode(arg.substr(equals + 1));
    if (photo.empty()) return 1;
    Run(arg.substr(0, equals).c_str(), photo, only);
    if (a == first) {
      Bytes random = photo;
      qb::dib::DibLayout layout;
      qb::dib::Validate(random, qb::dib::kDepth24, layout);
      std::mt19937 generator(1);
      for (std::size_t i = layout.pixelOffset; i < random.size(); ++i) random[i] = static_cast<std::uint8_t>(generator());
      Run("random", random, only);
    }
  }
  return 0;
}
