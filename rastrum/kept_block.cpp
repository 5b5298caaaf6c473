// The process's one kept picture block (kept_block.h), in the imaging
// library, so that the pictures it makes and those its callers make share
// it.
#include "rastrum/kept_block.h"

#include <utility>

namespace rastrum {
namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
HGLOBAL g_kept = nullptr;
PTP_TIMER g_timer = nullptr;  // armed while a block is kept
HMODULE g_pin = nullptr;      // the module's reference the armed timer holds

class Exclusive {
 public:
  Exclusive() { AcquireSRWLockExclusive(&g_lock); }
  ~Exclusive() { ReleaseSRWLockExclusive(&g_lock); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
};

// The timer's end: the kept block freed, the timer closed, and the
// module's reference dropped once this callback has returned.
void CALLBACK GiveBackWhenIdle(PTP_CALLBACK_INSTANCE instance, void*, PTP_TIMER timer) {
  HGLOBAL kept = nullptr;
  HMODULE pin = nullptr;
  {
    Exclusive lock;
    if (g_timer == timer) {
      kept = std::exchange(g_kept, nullptr);
      pin = std::exchange(g_pin, nullptr);
      g_timer = nullptr;
    }
  }
  if (kept) GlobalFree(kept);
  CloseThreadpoolTimer(timer);
  if (pin) FreeLibraryWhenCallbackReturns(instance, pin);
}

// Under the lock: the timer (re)started for a full idle time; false when
// no timer can be made.
bool ArmLocked() {
  if (!g_timer) {
    HMODULE pin = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&GiveBackWhenIdle), &pin))
      return false;
    g_timer = CreateThreadpoolTimer(&GiveBackWhenIdle, nullptr, nullptr);
    if (!g_timer) {
      FreeLibrary(pin);
      return false;
    }
    g_pin = pin;
  }
  ULARGE_INTEGER due;
  due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(kIdleMilliseconds) * 10000);
  FILETIME relative;
  relative.dwLowDateTime = due.LowPart;
  relative.dwHighDateTime = due.HighPart;
  SetThreadpoolTimer(g_timer, &relative, 0, 0);
  return true;
}

}  // namespace

HGLOBAL NewKeptOrFreshBlock(size_t bytes) {
  if (bytes >= kKeepFrom) {
    HGLOBAL kept = nullptr;
    {
      Exclusive lock;
      kept = std::exchange(g_kept, nullptr);
    }
    if (kept && GlobalSize(kept) == bytes) return kept;
    if (kept) GlobalFree(kept);  // a picture of another size is being made
  }
  return GlobalAlloc(GMEM_MOVEABLE, bytes);
}

void KeepOrFreeBlock(HGLOBAL block) {
  if (!block) return;
  const UINT flags = GlobalFlags(block);
  if (flags != GMEM_INVALID_HANDLE && (flags & GMEM_LOCKCOUNT) == 0 && GlobalSize(block) >= kKeepFrom) {
    HGLOBAL replaced = nullptr;
    bool kept = false;
    {
      Exclusive lock;
      if (ArmLocked()) {
        replaced = std::exchange(g_kept, block);
        kept = true;
      }
    }
    if (replaced) GlobalFree(replaced);
    if (kept) return;
  }
  GlobalFree(block);
}

void ForgetKeptBlock(HGLOBAL block) {
  Exclusive lock;
  if (block && g_kept == block) g_kept = nullptr;
}

bool GiveBackKeptBlock() {
  HGLOBAL kept = nullptr;
  {
    Exclusive lock;
    kept = std::exchange(g_kept, nullptr);
  }
  if (kept) GlobalFree(kept);
  return kept != nullptr;
}

}  // namespace rastrum
