// Rastrum.dll: the imaging library's entry points. A thin shell: it moves
// movable global blocks in and out of the portable core, reads and writes
// files, and has GDI draw text (text_draw.cpp). Every handle it returns is a
// new GMEM_MOVEABLE block that belongs to the caller; input blocks are never
// changed or freed (NimboTrueClr2Gray alone works in place).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rastrum/rastrum.h"
#include "base/block_handle.h"
#include "base/resource_guards.h"
#include "base/files.h"
#include "base/portable/work_pool.h"
#include "rastrum/kept_block.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"
#include "rastrum/portable/rastrum_errors.h"
#include "rastrum/text_draw.h"

namespace {

using rastrum::kBadArgument;
using rastrum::kCannotOpen;
using rastrum::kCannotWrite;
using rastrum::kCorruptData;
using rastrum::kOk;
using rastrum::kOutOfMemory;
using rastrum::OutOfMemoryGuarded;
using rastrum::kTooLarge;

// Files larger than this are not images a 32-bit process can decode.
constexpr uint64_t kMaxFileBytes = 1ULL << 30;
// The JPEG quality of saves through NimboSaveAsFile.
constexpr int kSavedJpegQuality = 90;

// The new block of an operation: allocated movable and locked while the
// core writes it; Release hands it over unlocked, otherwise it is freed.
class GlobalBlock final : public rastrum::BlockAllocator {
 public:
  GlobalBlock() = default;
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  ~GlobalBlock() override {
    if (!m_handle) return;
    if (m_bytes) GlobalUnlock(m_handle);
    GlobalFree(m_handle);
  }

  uint8_t* Allocate(size_t bytes) override {
    if (m_handle || bytes == 0 || bytes > 0x7FFFFFFF) return nullptr;
    m_handle = rastrum::NewKeptOrFreshBlock(bytes);
    if (!m_handle) return nullptr;
    m_bytes = static_cast<uint8_t*>(GlobalLock(m_handle));
    if (!m_bytes) {
      GlobalFree(m_handle);
      m_handle = nullptr;
    }
    return m_bytes;
  }

  // The handle for a status of the core: the block on success, the failure
  // value otherwise. A handle that does not fit a positive 32-bit value
  // cannot be passed on and counts as out of memory.
  int32_t Finish(int status) {
    if (status != kOk) return status;
    if (!m_handle) return kOutOfMemory;
    GlobalUnlock(m_handle);
    m_bytes = nullptr;
    HGLOBAL h = m_handle;
    int32_t value = qb::FromHGlobal(h);
    if (value <= 0) return kOutOfMemory;  // freed by the destructor
    m_handle = nullptr;
    return value;
  }

 private:
  HGLOBAL m_handle = nullptr;
  uint8_t* m_bytes = nullptr;
};

// A caller's block, locked for the length of one call. A handle of 0 or
// below is no block.
class InputBlock {
 public:
  explicit InputBlock(int32_t h) {
    if (h <= 0) return;
    m_handle = qb::ToHGlobal(h);
    m_size = GlobalSize(m_handle);
    if (m_size == 0) return;
    m_bytes = static_cast<uint8_t*>(GlobalLock(m_handle));
  }
  ~InputBlock() {
    if (m_bytes) GlobalUnlock(m_handle);
  }
  InputBlock(const InputBlock&) = delete;
  InputBlock& operator=(const InputBlock&) = delete;

  bool ok() const { return m_bytes != nullptr; }
  std::span<uint8_t> span() const { return m_bytes ? std::span<uint8_t>(m_bytes, m_size) : std::span<uint8_t>(); }

 private:
  HGLOBAL m_handle = nullptr;
  uint8_t* m_bytes = nullptr;
  SIZE_T m_size = 0;
};

int ReadImageFile(const char* path, std::vector<uint8_t>& data) {
  switch (qb::ReadWholeFile(path, data, kMaxFileBytes)) {
    case qb::ReadResult::kRead: return data.empty() ? kCorruptData : kOk;
    case qb::ReadResult::kTooLarge: return kTooLarge;
    case qb::ReadResult::kOutOfMemory: return kOutOfMemory;
    case qb::ReadResult::kCannotOpen: break;
  }
  return kCannotOpen;
}

// An unchanged copy of a block, slack included.
int32_t CopyBlock(int32_t source) {
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  GlobalBlock out;
  uint8_t* p = out.Allocate(in.span().size());
  if (!p) return kOutOfMemory;
  std::memcpy(p, in.span().data(), in.span().size());
  return out.Finish(kOk);
}

// While the library has worker threads it holds a reference to itself, so
// that it cannot be unloaded under them; NimboEndWorkers gives it back.
void PinWhileWorking(bool running) {
  static HMODULE self = nullptr;
  if (running) {
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&PinWhileWorking)), &self);
  } else if (self) {
    FreeLibrary(std::exchange(self, nullptr));
  }
}

const bool kPinHookSet = (qb::work::SetWorkerLifeHook(PinWhileWorking), true);

}  // namespace

extern "C" {

int32_t __stdcall NimboLoadFile(const char* path) {
  if (!path || !*path) return kBadArgument;
  std::vector<uint8_t> data;
  int status = ReadImageFile(path, data);
  if (status != kOk) return status;
  return OutOfMemoryGuarded([&] {
    GlobalBlock out;
    return out.Finish(rastrum::DecodeImage(data, out));
  });
}

// 1 when the whole file was written, a failure value otherwise.
int32_t __stdcall NimboSaveAsFile(int32_t handle, const char* path) {
  if (!path || !*path) return kBadArgument;
  rastrum::FileFormat format = rastrum::FormatForSaving(path);
  if (format == rastrum::FileFormat::kUnknown) return rastrum::kUnknownFormat;
  InputBlock in(handle);
  if (!in.ok()) return kBadArgument;
  return OutOfMemoryGuarded([&] {
    std::vector<uint8_t> bytes;
    const int status = rastrum::EncodeImage(in.span(), format, kSavedJpegQuality, bytes);
    if (status != kOk) return status;
    return qb::ReplaceFileWith(path, bytes) == qb::ReplaceResult::kWritten ? 1 : kCannotWrite;
  });
}

// An image file held by the caller, decoded as NimboLoadFile decodes a file,
// with the same limit on its size.
int32_t __stdcall NimboLoadMemory(const uint8_t* data, uint32_t size) {
  if (!data && size != 0) return kBadArgument;
  if (size == 0) return kCorruptData;
  if (size > kMaxFileBytes) return kTooLarge;
  return OutOfMemoryGuarded([&] {
    GlobalBlock out;
    return out.Finish(rastrum::DecodeImage(std::span<const uint8_t>(data, size), out));
  });
}

// The file NimboSaveAsFile would write to `name`, with lossy formats at the
// given quality, in a new block: its length (32 bits, little-endian), then
// its bytes.
int32_t __stdcall NimboSaveAsMemory(int32_t handle, const char* name, int32_t quality) {
  if (!name || !*name || quality < 1 || quality > 100) return kBadArgument;
  rastrum::FileFormat format = rastrum::FormatForSaving(name);
  if (format == rastrum::FileFormat::kUnknown) return rastrum::kUnknownFormat;
  return OutOfMemoryGuarded([&]() -> int32_t {
    std::vector<uint8_t> bytes;
    {
      InputBlock in(handle);
      if (!in.ok()) return kBadArgument;
      const int status = rastrum::EncodeImage(in.span(), format, quality, bytes);
      if (status != kOk) return status;
    }
    if (bytes.size() > 0x7FFFFFFF - 4) return kTooLarge;
    GlobalBlock out;
    uint8_t* p = out.Allocate(bytes.size() + 4);
    if (!p) return kOutOfMemory;
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(length >> (8 * i));
    std::memcpy(p + 4, bytes.data(), bytes.size());
    return out.Finish(kOk);
  });
}

// Frees any movable global block, whoever allocated it. 0 and failure
// values are ignored, so a field holding the result of a failed load can be
// passed.
int32_t __stdcall NimboFreeMemory(int32_t handle) {
  if (handle <= 0) return 0;
  return GlobalFree(qb::ToHGlobal(handle)) == nullptr ? 1 : kBadArgument;
}

int32_t __stdcall NimboNewBlock(uint32_t bytes) {
  if (bytes == 0 || bytes > 0x7FFFFFFF) return kBadArgument;
  HGLOBAL block = rastrum::NewKeptOrFreshBlock(bytes);
  if (!block) return kOutOfMemory;
  const int32_t h = qb::FromHGlobal(block);
  if (h > 0) return h;
  GlobalFree(block);
  return kOutOfMemory;
}

void __stdcall NimboFreeBlock(int32_t handle) {
  if (handle > 0) rastrum::KeepOrFreeBlock(qb::ToHGlobal(handle));
}

void __stdcall NimboForgetBlock(int32_t handle) {
  if (handle > 0) rastrum::ForgetKeptBlock(qb::ToHGlobal(handle));
}

int32_t __stdcall NimboGiveBackBlock() { return rastrum::GiveBackKeptBlock() ? 1 : 0; }

int32_t __stdcall NimboResize(int32_t width, int32_t height, int32_t source, int32_t mode) {
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::Resize(in.span(), width, height, mode, out));
}

int32_t __stdcall NimboRotate(int32_t angle, int32_t source) {
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::Rotate(in.span(), angle, out));
}

int32_t __stdcall NimboBlur(int32_t level, int32_t source) {
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::Blur(in.span(), level, out));
}

int32_t __stdcall NimboAddText(const AddTextRecord* record, int32_t source) {
  if (source <= 0) return kBadArgument;
  if (!record || !record->text || !record->text[0]) return CopyBlock(source);
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::DrawText24(*record, in.span(), out));
}

// Frames of 0, or the failure value a frame loader left, are no frame.
int32_t __stdcall NimboAddFrame(int32_t source, int32_t frame1, int32_t frame2, int32_t) {
  InputBlock in(source);
  if (!in.ok()) return kBadArgument;
  InputBlock first(frame1), second(frame2);
  if ((frame1 > 0 && !first.ok()) || (frame2 > 0 && !second.ok())) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::AddFrame(in.span(), first.span(), second.span(), out));
}

int32_t __stdcall NimboAddPic(int32_t x, int32_t y, int32_t base, int32_t overlay, int32_t mask) {
  InputBlock in(base);
  if (!in.ok()) return kBadArgument;
  InputBlock over(overlay), alpha(mask);
  if ((overlay > 0 && !over.ok()) || (mask > 0 && !alpha.ok())) return kBadArgument;
  GlobalBlock out;
  return out.Finish(rastrum::AddPic(x, y, in.span(), over.span(), alpha.span(), out));
}

// Turns the block grey in place: 1 on success, 0 for no block, a failure
// value for a block that cannot be read.
int32_t __stdcall NimboTrueClr2Gray(int32_t mask) {
  if (mask == 0) return 0;
  InputBlock in(mask);
  if (!in.ok()) return kBadArgument;
  int status = rastrum::ToGray(in.span());
  return status == kOk ? 1 : status;
}

void __stdcall NimboEndWorkers() { qb::work::EndWorkers(); }

int32_t __stdcall NimboForEachRange(int64_t count, int64_t grain, NimboRangeBody body, void* context) {
  if (!body) return 0;
  // A failing range stops the call as a thrown value would; nothing but
  // this value is ever thrown through the pool here.
  struct RangeFailed {};
  try {
    qb::work::ForEachRange(count, grain, [&](int64_t begin, int64_t end) {
      if (body(context, begin, end) != 0) throw RangeFailed{};
    });
  } catch (const RangeFailed&) {
    return 0;
  } catch (...) {
    return 0;  // the pool could not start a worker
  }
  return 1;
}

int32_t __stdcall NimboThreadCount() { return qb::work::ThreadCount(); }

void __stdcall NimboSetThreadCount(int32_t threads) { qb::work::SetThreadCount(threads); }

}  // extern "C"
