// The Windows build's libheif: libheif.dll, loaded on the first HEIC or
// AVIF picture from the folder of the module that holds this code
// (Rastrum.dll), by full path and never through the search order, so that
// a libheif.dll elsewhere on the PATH or in the host's folder is never the
// one that runs. LOAD_WITH_ALTERED_SEARCH_PATH makes its own import,
// libde265.dll, resolve in that same folder first.
//
// libheif and libde265 are LGPL and ship as DLLs of their own that a user
// may replace; a deployment without them reads every other format, and a
// HEIC or AVIF file then fails with kDecoderMissing. The DLL stays loaded
// for the life of the process once its table is complete.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "rastrum/portable/codecs.h"
#include "rastrum/portable/heif_library.h"

namespace rastrum {

namespace {

// The folder of the module holding this function, with its trailing
// backslash; empty when it cannot be had.
std::wstring OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnFolder), &self))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  path.resize(slash + 1);
  return path;
}

// Each entry by its libheif name; false when one is missing.
template <typename F>
bool Resolve(HMODULE module, const char* name, F& entry) {
  entry = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return entry != nullptr;
}

bool ResolveAll(HMODULE m, HeifLibrary& t) {
  return Resolve(m, "heif_context_alloc", t.context_alloc) && Resolve(m, "heif_context_free", t.context_free) &&
         Resolve(m, "heif_context_set_maximum_image_size_limit", t.context_set_maximum_image_size_limit) &&
         Resolve(m, "heif_context_read_from_memory_without_copy", t.context_read_from_memory_without_copy) &&
         Resolve(m, "heif_context_get_primary_image_handle", t.context_get_primary_image_handle) &&
         Resolve(m, "heif_image_handle_release", t.image_handle_release) &&
         Resolve(m, "heif_image_handle_get_width", t.image_handle_get_width) &&
         Resolve(m, "heif_image_handle_get_height", t.image_handle_get_height) &&
         Resolve(m, "heif_image_handle_has_alpha_channel", t.image_handle_has_alpha_channel) &&
         Resolve(m, "heif_image_handle_is_premultiplied_alpha", t.image_handle_is_premultiplied_alpha) &&
         Resolve(m, "heif_image_handle_get_luma_bits_per_pixel", t.image_handle_get_luma_bits_per_pixel) &&
         Resolve(m, "heif_decoding_options_alloc", t.decoding_options_alloc) &&
         Resolve(m, "heif_decoding_options_free", t.decoding_options_free) &&
         Resolve(m, "heif_decode_image", t.decode_image) &&
         Resolve(m, "heif_image_get_width", t.image_get_width) &&
         Resolve(m, "heif_image_get_height", t.image_get_height) &&
         Resolve(m, "heif_image_get_bits_per_pixel_range", t.image_get_bits_per_pixel_range) &&
         Resolve(m, "heif_image_get_plane_readonly", t.image_get_plane_readonly) &&
         Resolve(m, "heif_image_release", t.image_release);
}

std::atomic<bool> forbidden{false};

}  // namespace

void ForbidLoadingHeifLibrary() { forbidden = true; }

const HeifLibrary* LoadHeifLibrary() {
  // A failed load is tried again on the next HEIC or AVIF file, so DLLs
  // put in place while the host runs are found; a complete table is kept.
  static std::mutex lock;
  static HeifLibrary table;
  static bool loaded = false;
  const std::lock_guard<std::mutex> hold(lock);
  if (loaded) return &table;
  if (forbidden) return nullptr;
  const std::wstring folder = OwnFolder();
  if (folder.empty()) return nullptr;
  // No "cannot find the DLL" box from Windows: the caller reports it.
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  const HMODULE module = LoadLibraryExW((folder + L"libheif.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  SetThreadErrorMode(previous, nullptr);
  if (!module) return nullptr;
  HeifLibrary resolved{};
  if (!ResolveAll(module, resolved)) {
    FreeLibrary(module);
    return nullptr;
  }
  table = resolved;
  loaded = true;
  return &table;
}

}  // namespace rastrum
