// The process's pool of worker threads, for kernels that walk a large
// picture: a range of rows is cut into pieces that the calling thread and
// the workers take in turn, and the call returns when every piece has run.
//
// The workers start on the first call that can use them and wait for work
// between calls; there is one pool, however many pictures or threads use
// it. EndWorkers stops and joins them (the next call starts them again):
// the module that owns the pool calls it before it is unloaded, never from
// the loader's notifications, where a join would deadlock. The pool itself
// is never destroyed, so that the end of the process does not wait on
// threads that are already gone.
//
// Results do not depend on the number of threads as long as the body writes
// only what its own range owns; a kernel's output is then the same bytes on
// one thread and on many.
#pragma once

#include <cstdint>
#include <functional>

namespace qb::work {

// Runs body(begin, end) over [0, count), cut into ranges of at least
// `grain` items, on the calling thread and the workers. A count of at most
// `grain`, a pool of one thread, or a call made from inside a body runs on
// the calling thread alone, in one range. The first exception a body throws
// is thrown again here once every range has finished or been skipped.
void ForEachRange(int64_t count, int64_t grain, const std::function<void(int64_t begin, int64_t end)>& body);

// The threads that share a call, the caller's included: the machine's
// processors unless SetThreadCount chose otherwise.
int ThreadCount();

// Chooses how many threads share a call (1: everything on the caller; 0:
// the machine's processors). Takes effect from the next call; used by tests
// and benchmarks to compare thread counts.
//
// In the 32-bit build the pool lives in Rastrum.dll: the server's copy of
// these functions hands every call to it (rastrum/work_pool_client.cpp),
// so the process has one pool whichever module's kernel asks.
void SetThreadCount(int threads);

// Stops the workers and waits for them to end. Must not be called while a
// call is running on another thread, nor from a body.
void EndWorkers();

// A function of the module that owns the pool, called with true before the
// first worker starts and with false once EndWorkers has joined the last:
// a DLL keeps itself loaded while it has workers, so that its code cannot
// be unloaded under a waiting thread. Set once, before the first call.
void SetWorkerLifeHook(void (*hook)(bool running));

// Kernels split work this size or larger: about a megapixel's worth of
// rows, below which starting the workers costs more than it saves.
constexpr int64_t kParallelPixels = 1 << 20;

// The rows of a width x height picture as ranges for ForEachRange: the grain
// in rows that keeps a range at least kParallelPixels / 4 pixels, and the
// whole picture in one range when it is smaller than kParallelPixels.
inline int64_t RowGrain(int64_t width, int64_t height) {
  const int64_t w = width > 1 ? width : 1, h = height > 0 ? height : 0;
  if (w * h < kParallelPixels) return h > 1 ? h : 1;
  const int64_t grain = (kParallelPixels / 4) / w;
  return grain > 1 ? grain : 1;
}

// Runs body(first, count) over the rows of a width x height picture in
// bands of whole rows (RowGrain), each band once, on the pool.
template <class Body>
void ForEachRowBand(int32_t width, int32_t height, Body&& body) {
  ForEachRange(height, RowGrain(width, height), [&](int64_t begin, int64_t end) {
    body(static_cast<int32_t>(begin), static_cast<int32_t>(end - begin));
  });
}

// Runs body(first, count) over the rows of a width x height picture in
// bands of `bandRows` rows (the last one shorter when it must), each band
// once; the bands are shared on the pool when the picture is large. For
// work whose bands are sized for the cache rather than for the threads.
template <class Body>
void ForEachBandOfRows(int32_t width, int32_t height, int32_t bandRows, Body&& body) {
  if (height < 1) return;
  const int32_t rows = bandRows > 1 ? bandRows : 1;
  const int64_t bands = (int64_t{height} + rows - 1) / rows;
  const int64_t grain = int64_t{width} * height < kParallelPixels ? bands : 1;
  ForEachRange(bands, grain, [&](int64_t begin, int64_t end) {
    for (int64_t band = begin; band < end; ++band) {
      const int32_t first = static_cast<int32_t>(band * rows);
      body(first, height - first < rows ? height - first : rows);
    }
  });
}

}  // namespace qb::work
