// The worker pool as seen from a module that loads Rastrum.dll: the server's
// kernels run on the library's workers, so that the process has one pool
// (one set of threads, one thread count) whichever module's kernel asks.
//
// A body's exception must not unwind through the library's frames: the
// trampoline below catches it on the thread that ran the body, reports a
// failure (the library then skips the ranges not yet begun), and the
// first exception is thrown again on the caller once the call is over.
#include <windows.h>

#include <exception>
#include <functional>
#include <mutex>
#include <system_error>

#include "base/portable/work_pool.h"
#include "rastrum/rastrum.h"

namespace qb::work {
namespace {

struct Call {
  const std::function<void(int64_t, int64_t)>* body;
  std::mutex errorLock;
  std::exception_ptr error;
};

int32_t __cdecl RunRange(void* context, int64_t begin, int64_t end) {
  Call& call = *static_cast<Call*>(context);
  try {
    (*call.body)(begin, end);
    return 0;
  } catch (...) {
    std::lock_guard<std::mutex> lock(call.errorLock);
    if (!call.error) call.error = std::current_exception();
    return 1;
  }
}

}  // namespace

void ForEachRange(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& body) {
  if (count <= 0) return;
  Call call{&body, {}, {}};
  if (NimboForEachRange(count, grain, RunRange, &call) != 0) return;
  if (call.error) std::rethrow_exception(call.error);
  // The library failed without a body failing: no worker could start.
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

int ThreadCount() { return NimboThreadCount(); }

void SetThreadCount(int threads) { NimboSetThreadCount(threads); }

void EndWorkers() { NimboEndWorkers(); }

// The library keeps itself loaded while it has workers.
void SetWorkerLifeHook(void (*)(bool)) {}

}  // namespace qb::work
