#include "base/portable/work_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qb::work {
namespace {

// A call being shared: its ranges are numbered and taken in turn through
// `next`; `finished` counts the ranges done.
struct Job {
  const std::function<void(int64_t, int64_t)>* body = nullptr;
  int64_t count = 0;
  int64_t ranges = 0;
  std::atomic<int64_t> next{0};
  std::atomic<int64_t> finished{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorLock;
};

thread_local bool insideBody = false;

class Pool {
 public:
  void Run(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& body) {
    const int threads = ThreadCount();
    if (threads <= 1 || insideBody || count <= grain) {
      RunInline(count, body);
      return;
    }
    // One call at a time shares the workers; another thread's call waits.
    std::lock_guard<std::mutex> serial(callLock_);
    Job job;
    job.body = &body;
    job.count = count;
    // A few ranges per thread, so that one slow range does not leave the
    // others idle; never below the grain.
    job.ranges = std::max<int64_t>(1, std::min<int64_t>(count / std::max<int64_t>(grain, 1), int64_t{threads} * 4));
    StartWorkers(threads - 1);
    {
      std::lock_guard<std::mutex> lock(lock_);
      job_ = &job;
      ++generation_;
    }
    wake_.notify_all();
    Work(job);
    {
      std::unique_lock<std::mutex> lock(lock_);
      done_.wait(lock, [&] { return job.finished.load() == job.ranges && busy_ == 0; });
      job_ = nullptr;
    }
    if (job.error) std::rethrow_exception(job.error);
  }

  void End() {
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(lock_);
      stopping_ = true;
      workers.swap(workers_);
    }
    wake_.notify_all();
    for (std::thread& t : workers) t.join();
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = false;
    if (!workers.empty() && lifeHook) lifeHook(false);
  }

  std::atomic<int> chosen{0};
  void (*lifeHook)(bool) = nullptr;

 private:
  static void RunInline(int64_t count, const std::function<void(int64_t, int64_t)>& body) {
    if (count <= 0) return;
    const bool outer = !insideBody;
    insideBody = true;
    try {
      body(0, count);
    } catch (...) {
      if (outer) insideBody = false;
      throw;
    }
    if (outer) insideBody = false;
  }

  void StartWorkers(int wanted) {
    std::lock_guard<std::mutex> lock(lock_);
    if (workers_.empty() && wanted > 0 && lifeHook) lifeHook(true);
    // A worker counts the call that starts it as new work: that call is
    // published only after this, and the worker may run only later.
    while (static_cast<int>(workers_.size()) < wanted)
      workers_.emplace_back([this, seen = generation_] { WorkerLoop(seen); });
  }

  // Takes ranges of the job until none is left.
  static void Work(Job& job) {
    insideBody = true;
    for (;;) {
      const int64_t r = job.next.fetch_add(1);
      if (r >= job.ranges) break;
      if (!job.failed.load()) {
        const int64_t begin = job.count * r / job.ranges, end = job.count * (r + 1) / job.ranges;
        try {
          (*job.body)(begin, end);
        } catch (...) {
          std::lock_guard<std::mutex> lock(job.errorLock);
          if (!job.error) job.error = std::current_exception();
          job.failed = true;
        }
      }
      job.finished.fetch_add(1);
    }
    insideBody = false;
  }

  void WorkerLoop(uint64_t seen) {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || (job_ && generation_ != seen); });
      if (stopping_) return;
      seen = generation_;
      Job* job = job_;
      ++busy_;
      lock.unlock();
      Work(*job);
      lock.lock();
      --busy_;
      if (busy_ == 0) done_.notify_all();
    }
  }

  std::mutex callLock_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<std::thread> workers_;
  Job* job_ = nullptr;
  uint64_t generation_ = 0;
  int busy_ = 0;
  bool stopping_ = false;
};

// Never destroyed: see the header.
Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

}  // namespace

void ForEachRange(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& body) {
  ThePool().Run(count, grain, body);
}

int ThreadCount() {
  const int chosen = ThePool().chosen.load();
  if (chosen > 0) return chosen;
  const unsigned machine = std::thread::hardware_concurrency();
  return machine == 0 ? 1 : static_cast<int>(std::min(machine, 16u));
}

void SetThreadCount(int threads) { ThePool().chosen = std::max(0, threads); }

void EndWorkers() { ThePool().End(); }

void SetWorkerLifeHook(void (*hook)(bool running)) { ThePool().lifeHook = hook; }

}  // namespace qb::work
