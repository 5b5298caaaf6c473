// Colour adjustment (hue 120) as the shipped 32-bit DLL runs it, in
// megapixels per second: the plain per-pixel formula, then the SSE2 and
// AVX2 walks without and with the memory of colours, on one thread and
// on the pool, over a photo and over random pixels of the same size. Each
// figure is the median of five runs; each result is compared with the
// formula's bytes. bench/colour_vs_opencv.sh runs it beside OpenCV.
//
//   colour_bench.exe PHOTO.jpg
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "base/portable/work_pool.h"
#include "modifiers/portable/color_adjust.h"
#include "modifiers/portable/simd_level.h"
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

// The medians of five timed runs of job, each after an untimed prepare:
// the time on the clock and the processor time of all threads (on a busy
// machine the second says more about the code than the first).
template <class Prepare, class Job>
Seconds MedianSeconds(Prepare prepare, Job job) {
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
  return {walls[2], cpus[2]};
}

void Run(const char* name, const Bytes& original) {
  const qb::color::Shifts shifts = qb::color::MakeShifts(120, 0, 0);
  Bytes work = original;
  const qb::dib::ImageView view = ViewOf(work);
  const double megapixels = double(view.width()) * view.height() / 1e6;
  const auto restore = [&] { work = original; };
  const Seconds scalar = MedianSeconds(restore, [&] { qb::color::AdjustPixelsScalar(view, shifts); });
  const Bytes reference = work;
  std::printf("%-7s %-6s %-7s %7s %8.1f %8.1f\n", name, "scalar", "-", "1", megapixels / scalar.wall,
              megapixels / scalar.cpu);
  struct Level {
    const char* name;
    qb::simd::Level level;
  };
  for (const Level level : {Level{"sse2", qb::simd::Level::kSse2}, Level{"avx2", qb::simd::Level::kAvx2}}) {
    if (level.level > qb::simd::Available()) continue;
    qb::simd::Limit(level.level);
    for (const ColourMemory memory : {ColourMemory::kNever, ColourMemory::kAuto, ColourMemory::kAlways}) {
      for (int threads : {1, 2}) {
        qb::work::SetThreadCount(threads);
        const Seconds seconds = MedianSeconds(restore, [&] { qb::color::AdjustPixels(view, shifts, memory); });
        const char* memoryName = memory == ColourMemory::kNever ? "never" : memory == ColourMemory::kAuto ? "auto" : "always";
        std::printf("%-7s %-6s %-7s %7d %8.1f %8.1f%s\n", name, level.name, memoryName, threads,
                    megapixels / seconds.wall, megapixels / seconds.cpu, work == reference ? "" : "  DIFFERENT BYTES");
      }
    }
  }
  qb::work::SetThreadCount(0);
  qb::simd::Limit(qb::simd::Level::kAvx2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: colour_bench PHOTO.jpg\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  rastrum::VectorAllocator decoded;
  if (rastrum::DecodeJpeg(file, decoded) != rastrum::kOk) {
    std::fprintf(stderr, "%s: not a JPEG this build reads\n", argv[1]);
    return 1;
  }
  Bytes photo = decoded.block;
  qb::dib::DibLayout layout;
  if (qb::dib::Validate(photo, qb::dib::kDepth24, layout) != qb::dib::DibStatus::kOk) {
    std::fprintf(stderr, "%s: not a 24-bit picture\n", argv[1]);
    return 1;
  }
  Bytes random = photo;
  std::mt19937 generator(1);
  for (std::size_t i = layout.pixelOffset; i < random.size(); ++i) random[i] = static_cast<std::uint8_t>(generator());
  std::printf("%d x %d, hue 120, megapixels per second of the clock and per second of processor time\n"
              "(all threads), medians of 5\npicture walk   memory  threads     MP/s  MP/cpu-s\n",
              qb::dib::PixelsOf(photo.data(), layout).width(), qb::dib::PixelsOf(photo.data(), layout).height());
  Run("photo", photo);
  Run("random", random);
  return 0;
}
