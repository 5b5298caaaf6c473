// Registry scripts: the text that says which keys and values a class puts
// into the registry when the server is registered, and takes out again when
// it is unregistered.
//
// A script is UTF-8 text made of whitespace-separated tokens:
//   - bare words (a word may begin with '{', as a CLSID key name does);
//   - single-quoted strings, where '' stands for one quote;
//   - '{', '}' and '=' when they stand alone.
// In every word and string, %NAME% is replaced from the variables (names
// matched without regard to case) and %% gives one percent sign.
//
//   script   := root+
//   root     := HKCR | HKCU | HKLM | HKU | HKPD | HKDD | HKCC | HKEY_... '{' key* '}'
//   key      := [ForceRemove | NoRemove | Delete] name ['=' type 'value'] ['{' (key | val)* '}']
//   val      := Val name '=' type 'value'
//   type     := s (REG_SZ) | d (REG_DWORD, decimal or 0x hex) | b (REG_BINARY, hex digits)
//
// Keywords, root names and type letters are matched without regard to case;
// they are keywords only when bare, so a key called 'Val' or 'Delete' is
// written quoted. A key name with backslashes names nested keys.
//
// A script is parsed whole before anything is evaluated: a malformed script
// never reaches the key store. Evaluation goes through the abstract KeyStore,
// so the same code drives the real registry and the in-memory store the
// tests use.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::reg {

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, PerformanceData, DynData, CurrentConfig };

// Short name of a root key ("HKCR", ...), as messages and dumps show it.
std::string_view RootName(Root root);

enum class ValueType { String, Dword, Binary };

// One registry value. Only the member that matches `type` is meaningful.
struct Value {
  ValueType type = ValueType::String;
  std::string text;                 // String: UTF-8
  std::uint32_t number = 0;         // Dword
  std::vector<std::uint8_t> bytes;  // Binary

  static Value String(std::string s);
  static Value Dword(std::uint32_t n);
  static Value Binary(std::vector<std::uint8_t> b);
  bool operator==(const Value&) const = default;
};

// Outcome of one key-store operation: a Win32 error code (0 is success), kept
// as a plain number so that the Windows side can turn it into an HRESULT.
struct Status {
  int code = 0;
  bool ok() const { return code == 0; }
};

// The Win32 error codes the portable code itself produces.
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorAccessDenied = 5;

// A registry seen as paths under a root. Paths join key names with '\';
// the empty path is the root key itself. Key and value names are compared
// without regard to case, as the registry does. An empty value name is the
// key's default value.
class KeyStore {
 public:
  virtual ~KeyStore() = default;
  virtual bool KeyExists(Root root, const std::string& path) = 0;
  // Creates the key (and any missing parents), or opens it if it exists.
  virtual Status CreateKey(Root root, const std::string& path) = 0;
  virtual Status SetValue(Root root, const std::string& path, const std::string& name, const Value& value) = 0;
  virtual Status DeleteValue(Root root, const std::string& path, const std::string& name) = 0;
  // Deletes the key with all its subkeys and values.
  virtual Status DeleteTree(Root root, const std::string& path) = 0;
  // Deletes the key only if it has no subkeys.
  virtual Status DeleteKey(Root root, const std::string& path) = 0;
  virtual bool HasSubkeys(Root root, const std::string& path) = 0;
};

// ---- Parsed script -------------------------------------------------------

enum class KeyFlag { None, ForceRemove, NoRemove, Delete };

struct NamedValue {
  std::string name;
  Value value;
  int line = 0;
};

struct KeyNode {
  KeyFlag flag = KeyFlag::None;
  std::string name;  // may hold '\' separating nested keys; no part is empty
  std::optional<Value> defaultValue;
  std::vector<NamedValue> values;
  std::vector<KeyNode> subkeys;
  int line = 0;
};

struct RootNode {
  Root root = Root::ClassesRoot;
  std::vector<KeyNode> keys;
  int line = 0;
};

struct Script {
  std::vector<RootNode> roots;
};

// ---- Results -------------------------------------------------------------

enum class Failure {
  None,
  Syntax,  // the script is malformed; nothing was touched
  Store,   // a key-store operation failed; `code` holds its Win32 error
};

struct Result {
  Failure failure = Failure::None;
  int code = 0;  // Win32 error code when failure == Store
  int line = 0;  // script line the failure belongs to (1-based), 0 if none
  std::string message;

  bool ok() const { return failure == Failure::None; }
};

// ---- Parsing and evaluation ---------------------------------------------

struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
using Variables = std::map<std::string, std::string, CaseInsensitiveLess>;

// Scans and parses the whole script. On failure `out` is left empty and the
// result says what is wrong and on which line.
Result Parse(std::string_view text, const Variables& variables, Script& out);

// Writes the script's keys and values. Keys are opened or created ("ForceRemove"
// keys are deleted with their subtrees first; "Delete" keys are deleted and
// their blocks skipped). If any operation fails, every key this run created
// is deleted again, newest first, and the failure is returned.
Result Register(const Script& script, KeyStore& store);

// Takes out what Register put in: "ForceRemove" keys go whole, "NoRemove" keys
// stay while their subkeys are processed, plain keys lose the values the
// script names and are deleted once they have no subkeys left. Root keys are
// never deleted. Deletions that fail (a key already gone) do not stop the
// walk; the result is success.
Result Unregister(const Script& script, KeyStore& store);

// Parse followed by Register or Unregister.
Result Run(std::string_view text, const Variables& variables, KeyStore& store, bool doRegister);

}  // namespace qb::reg
