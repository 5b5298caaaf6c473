// Loading picture files through COM, as a client calls LoadFile under
// Windows: for each file named on the command line, one load to warm the
// caches, then five timed loads, printed as "seconds cpu width x height
// path": the median wall-clock time and the median processor time of the
// whole process (every thread's user and kernel time, which a busy machine
// does not inflate the way it does the wall clock). A file that does not
// load prints "failed HRESULT path". bench/decode_vs_tools.sh runs it next to each
// format's own command-line decoder.
//
//   wine decode_bench.exe FILE...   (Quillbox registered in the prefix)
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "bench_picture.h"
#include "quillbox.h"

namespace {

using bench::Now;
using bench::Median;
using bench::ProcessorSeconds;

constexpr int kRuns = 5;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  IVuPicture* picture = bench::StartWithPicture();
  if (!picture) return 1;
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    BSTR path = SysAllocString(argv[i]);
    HRESULT hr = picture->LoadFile(path);
    std::vector<double> times, cpu;
    for (int run = 0; run < kRuns && SUCCEEDED(hr); ++run) {
      const double start = Now(), startCpu = ProcessorSeconds();
      hr = picture->LoadFile(path);
      times.push_back(Now() - start);
      cpu.push_back(ProcessorSeconds() - startCpu);
    }
    if (FAILED(hr)) {
      std::printf("failed 0x%08lX %ls\n", static_cast<unsigned long>(hr), argv[i]);
      ++failures;
    } else {
      long width = 0, height = 0;
      picture->get_Width(&width);
      picture->get_Height(&height);
      std::printf("%.4f %.4f %ld x %ld %ls\n", Median(times), Median(cpu), width, height, argv[i]);
    }
    SysFreeString(path);
  }
  picture->Release();
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
