// The registrar: runs the module's registry scripts against the real
// registry, for DllRegisterServer and DllUnregisterServer.
#pragma once

#include <windows.h>

#include <string>

#include "server/portable/registry_script.h"

namespace qb {

// The registry seen through the registry-script key store. Paths and values
// are UTF-8 and go to the wide registry functions; keys are opened in the
// process's default view.
class WinRegistryStore : public reg::KeyStore {
 public:
  bool KeyExists(reg::Root root, const std::string& path) override;
  reg::Status CreateKey(reg::Root root, const std::string& path) override;
  reg::Status SetValue(reg::Root root, const std::string& path, const std::string& name,
                       const reg::Value& value) override;
  reg::Status DeleteValue(reg::Root root, const std::string& path, const std::string& name) override;
  reg::Status DeleteTree(reg::Root root, const std::string& path) override;
  reg::Status DeleteKey(reg::Root root, const std::string& path) override;
  bool HasSubkeys(reg::Root root, const std::string& path) override;
};

// S_OK on success; DISP_E_EXCEPTION for a malformed script (nothing was
// written); HRESULT_FROM_WIN32 of the registry's error when a registry call
// failed (registration has undone the keys it created).
HRESULT ScriptResultToHResult(const reg::Result& result);

// The surrogate that serves the classes out of process: QuillboxHost.exe in
// the folder of modulePath.
std::wstring HostPath(const std::wstring& modulePath);

// Registers (or unregisters) with a script given as UTF-8 text; %MODULE%
// expands to modulePath, %HOST% to HostPath(modulePath). A failure is also
// written to the debugger output with its script line.
HRESULT RunRegistryScriptText(const std::string& scriptUtf8, bool doRegister, const std::wstring& modulePath);

// Runs the module's resource of type "REGISTRY" with the given number. The
// resource is ANSI text (the process code page); %MODULE% expands to the
// module's full path, %HOST% to the surrogate's beside it.
HRESULT RunRegistryScript(UINT resourceId, bool doRegister);

}  // namespace qb
