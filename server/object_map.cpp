#include "server/object_map.h"

#include <new>

#include "core/vu_picture.h"
#include "collections/file_info_array.h"
#include "modifiers/add_pic.h"
#include "modifiers/add_text.h"
#include "modifiers/adjust_color_modifier.h"
#include "modifiers/blur_modifier.h"
#include "modifiers/bright.h"
#include "modifiers/contrast.h"
#include "modifiers/crop_modifier.h"
#include "modifiers/frame.h"
#include "modifiers/mirror_modifier.h"
#include "modifiers/red_eye_modifier.h"
#include "modifiers/rotate_modifier.h"
#include "modifiers/sharp_modifier.h"
#include "modifiers/zoom.h"
#include "output/export_to_card.h"
#include "output/image_render.h"
#include "server/class_factory.h"
#include "com/module.h"
#include "server/plain_classes.h"
#include "server/registrar.h"

namespace qb {
namespace {

// The creator of a class: the object core's, unless the class brings its own.
template <class T>
HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
  return CreateObject<T>(outer, riid, ppv);
}
template <>
HRESULT Create<FileInfoArray>(IUnknown* outer, REFIID riid, void** ppv) {
  return FileInfoArray::Create(outer, riid, ppv);
}

#define QB_WIDE_TEXT(text) L##text
#define QB_WIDE(text) QB_WIDE_TEXT(text)
#define QB_CLASS(name, script) {&CLSID_##name, QB_WIDE(#name), script, &Create<name>},
#define QB_UNSERVED_CLASS(name, script, clsid)
#define QB_APPID(script, appid)
#define QB_CLASS_COUNT(n)
const ObjectMapEntry kObjectMap[] = {
#include "server/catalogue.h"
};
#undef QB_CLASS
#undef QB_APPID
#undef QB_CLASS_COUNT

// The registry script of the classes' AppID, and the number of classes the
// catalogue says it lists.
#define QB_CLASS(name, script)
#define QB_APPID(script, appid) constexpr UINT kAppIdScript = script;
#define QB_CLASS_COUNT(n) constexpr size_t kCatalogueCount = n;
#include "server/catalogue.h"
#undef QB_CLASS
#undef QB_UNSERVED_CLASS
#undef QB_APPID
#undef QB_CLASS_COUNT
constexpr size_t kClassCount = sizeof(kObjectMap) / sizeof(kObjectMap[0]);
static_assert(kClassCount == kCatalogueCount, "QB_CLASS_COUNT in the catalogue counts its QB_CLASS lines");

// Factories, created on first request; index as in kObjectMap.
ClassFactory* g_factories[kClassCount];

}  // namespace

const ObjectMapEntry* ObjectMap() { return kObjectMap; }
size_t ObjectMapSize() { return kClassCount; }

const ObjectMapEntry* FindClass(REFCLSID clsid) {
  for (const ObjectMapEntry& e : kObjectMap)
    if (*e.clsid == clsid) return &e;
  return nullptr;
}

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const ObjectMapEntry* entry = FindClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  size_t index = static_cast<size_t>(entry - kObjectMap);
  // The pointer is published only under the lock and never changes again,
  // so testing it once more inside the lock is enough.
  ClassFactory* factory = static_cast<ClassFactory*>(
      InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_factories[index]),
                                        nullptr, nullptr));
  if (!factory) {
    CriticalSectionGuard guard(FactoryLock());
    factory = g_factories[index];
    if (!factory) {
      factory = new (std::nothrow) ClassFactory(entry->create);
      if (!factory) return E_OUTOFMEMORY;
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_factories[index]), factory);
    }
  }
  return factory->QueryInterface(riid, ppv);
}

HRESULT RegisterServer() {
  HRESULT hr = RunRegistryScript(kAppIdScript, true);
  if (FAILED(hr)) return hr;
  for (const ObjectMapEntry& e : kObjectMap) {
    hr = RunRegistryScript(e.scriptId, true);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  for (const ObjectMapEntry& e : kObjectMap) RunRegistryScript(e.scriptId, false);
  RunRegistryScript(kAppIdScript, false);
  return S_OK;
}

void ReleaseClassFactories() {
  CriticalSectionGuard guard(FactoryLock());
  for (ClassFactory*& factory : g_factories) {
    if (factory) factory->Release();
    factory = nullptr;
  }
}

}  // namespace qb
