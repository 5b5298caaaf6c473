// A registry-key store held in memory, for running registry scripts in the
// native tests and the registry script's fuzz target. It lives with the fuzz
// targets, which the unit tests already include, so that neither folder
// reaches back into the other.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "server/portable/registry_script.h"

namespace qb::reg {

// A KeyStore held in memory, with fault injection: the tests use it to run
// scripts natively and to make any chosen store call fail.
class MemoryKeyStore : public KeyStore {
 public:
  enum class Op { CreateKey, SetValue, DeleteValue, DeleteTree, DeleteKey };

  bool KeyExists(Root root, const std::string& path) override;
  Status CreateKey(Root root, const std::string& path) override;
  Status SetValue(Root root, const std::string& path, const std::string& name, const Value& value) override;
  Status DeleteValue(Root root, const std::string& path, const std::string& name) override;
  Status DeleteTree(Root root, const std::string& path) override;
  Status DeleteKey(Root root, const std::string& path) override;
  bool HasSubkeys(Root root, const std::string& path) override;

  // Makes the nth call (1-based, counted from now) of `op` fail with `code`.
  void FailNth(Op op, int nth, int code = kErrorAccessDenied);
  // Calls of `op` made so far.
  int Calls(Op op) const;

  std::optional<Value> GetValue(Root root, const std::string& path, const std::string& name) const;

  // Every key and value, one per line in sorted order:
  //   HKCR\Key\Sub
  //   HKCR\Key\Sub @ = s 'default'
  //   HKCR\Key\Sub Name = d 42
  std::string Dump() const;

 private:
  struct Key {
    std::string displayPath;  // "HKCR\Name\..." in the case first created
    std::map<std::string, std::pair<std::string, Value>> values;  // folded name -> (name, value)
  };
  Status Inject(Op op);
  static constexpr char kSep = '\x01';
  static std::string Fold(Root root, const std::string& path);

  std::map<std::string, Key> m_keys;  // folded "root\path" -> key
  int m_calls[5] = {};
  int m_failAt[5] = {};
  int m_failCode[5] = {};
};

}  // namespace qb::reg
