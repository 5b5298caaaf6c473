// The registry-script parser, then the evaluator registering and
// unregistering the script in the in-memory key store.
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "server/portable/registry_script.h"
#include "fuzz/support/memory_key_store.h"

QB_FUZZ_TARGET(registry_script) {
  const qb::reg::Variables variables = {{"MODULE", "C:\\Q\\Quillbox.dll"}, {"CLSID", "{1234}"}};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qb::reg::Script script;
  const qb::reg::Result parsed = qb::reg::Parse(text, variables, script);
  if (!parsed.ok()) {
    QB_FUZZ_CHECK(script.roots.empty());
    return 0;
  }
  qb::reg::MemoryKeyStore store;
  const qb::reg::Result registered = qb::reg::Register(script, store);
  // A failed run takes back every key it made.
  if (!registered.ok()) QB_FUZZ_CHECK(store.Dump().empty());
  QB_FUZZ_CHECK(qb::reg::Unregister(script, store).ok());
  return 0;
}
