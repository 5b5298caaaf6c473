#include "fuzz/support/memory_key_store.h"

#include <vector>

namespace qb::reg {
namespace {

std::string FoldString(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

// Map keys fold case and use '\x01' as the separator, which sorts before any
// character of a name: a key's subkeys then follow it directly, in the order
// Dump shows them, and form one range that starts with "key\x01".
std::string MemoryKeyStore::Fold(Root root, const std::string& path) {
  std::string key = std::to_string(static_cast<int>(root));
  if (!path.empty()) key += kSep + FoldString(path);
  for (char& c : key)
    if (c == '\\') c = kSep;
  return key;
}

Status MemoryKeyStore::Inject(Op op) {
  const int k = static_cast<int>(op);
  ++m_calls[k];
  if (m_failAt[k] != 0 && m_calls[k] == m_failAt[k]) return Status{m_failCode[k]};
  return {};
}

void MemoryKeyStore::FailNth(Op op, int nth, int code) {
  const int k = static_cast<int>(op);
  m_failAt[k] = m_calls[k] + nth;
  m_failCode[k] = code;
}

int MemoryKeyStore::Calls(Op op) const { return m_calls[static_cast<int>(op)]; }

bool MemoryKeyStore::KeyExists(Root root, const std::string& path) {
  return path.empty() || m_keys.count(Fold(root, path)) != 0;
}

bool MemoryKeyStore::HasSubkeys(Root root, const std::string& path) {
  const std::string prefix = Fold(root, path) + kSep;
  auto it = m_keys.lower_bound(prefix);
  return it != m_keys.end() && it->first.starts_with(prefix);
}

Status MemoryKeyStore::CreateKey(Root root, const std::string& path) {
  if (Status s = Inject(Op::CreateKey); !s.ok()) return s;
  if (path.empty()) return {};
  // Like the registry, creating a key creates its missing parents. Only the
  // levels that are missing are visited, deepest first until one exists:
  // creating a key whose parent is there is one look-up and one insertion.
  // A folded prefix of the path is the same prefix of the folded path.
  const std::string folded = Fold(root, path);
  const size_t rootChars = folded.size() - path.size();
  std::vector<size_t> missing;  // lengths of the missing levels, deepest first
  std::string display = std::string(RootName(root));  // of the deepest level that exists
  for (size_t end = path.size();;) {
    if (auto it = m_keys.find(folded.substr(0, rootChars + end)); it != m_keys.end()) {
      display = it->second.displayPath;
      break;
    }
    missing.push_back(end);
    const size_t sep = path.rfind('\\', end - 1);
    if (sep == std::string::npos || sep == 0) break;
    end = sep;
  }
  if (missing.empty()) return {};
  // Each new level is named below its parent as the parent was first named.
  const size_t sep = path.rfind('\\', missing.back() - 1);
  size_t from = sep == std::string::npos ? 0 : sep + 1;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    display += '\\';
    display.append(path, from, *it - from);
    m_keys.try_emplace(folded.substr(0, rootChars + *it), Key{display, {}});
    from = *it + 1;
  }
  return {};
}

Status MemoryKeyStore::SetValue(Root root, const std::string& path, const std::string& name, const Value& value) {
  if (Status s = Inject(Op::SetValue); !s.ok()) return s;
  if (path.empty()) return Status{kErrorAccessDenied};
  auto it = m_keys.find(Fold(root, path));
  if (it == m_keys.end()) return Status{kErrorFileNotFound};
  it->second.values[FoldString(name)] = {name, value};
  return {};
}

Status MemoryKeyStore::DeleteValue(Root root, const std::string& path, const std::string& name) {
  if (Status s = Inject(Op::DeleteValue); !s.ok()) return s;
  auto it = m_keys.find(Fold(root, path));
  if (it == m_keys.end() || it->second.values.erase(FoldString(name)) == 0) return Status{kErrorFileNotFound};
  return {};
}

Status MemoryKeyStore::DeleteTree(Root root, const std::string& path) {
  if (Status s = Inject(Op::DeleteTree); !s.ok()) return s;
  if (path.empty()) return Status{kErrorAccessDenied};
  const std::string key = Fold(root, path);
  if (m_keys.erase(key) == 0) return Status{kErrorFileNotFound};
  const std::string prefix = key + kSep;
  auto it = m_keys.lower_bound(prefix);
  while (it != m_keys.end() && it->first.starts_with(prefix)) it = m_keys.erase(it);
  return {};
}

Status MemoryKeyStore::DeleteKey(Root root, const std::string& path) {
  if (Status s = Inject(Op::DeleteKey); !s.ok()) return s;
  if (path.empty() || HasSubkeys(root, path)) return Status{kErrorAccessDenied};
  if (m_keys.erase(Fold(root, path)) == 0) return Status{kErrorFileNotFound};
  return {};
}

std::optional<Value> MemoryKeyStore::GetValue(Root root, const std::string& path, const std::string& name) const {
  auto it = m_keys.find(Fold(root, path));
  if (it == m_keys.end()) return std::nullopt;
  auto v = it->second.values.find(FoldString(name));
  if (v == it->second.values.end()) return std::nullopt;
  return v->second.second;
}

std::string MemoryKeyStore::Dump() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const auto& [folded, key] : m_keys) {
    out += key.displayPath + "\n";
    for (const auto& [foldedName, named] : key.values) {
      const auto& [name, value] = named;
      out += key.displayPath + " " + (name.empty() ? "@" : name) + " = ";
      switch (value.type) {
        case ValueType::String: {
          std::string quoted;
          for (char c : value.text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
          out += "s '" + quoted + "'";
          break;
        }
        case ValueType::Dword:
          out += "d " + std::to_string(value.number);
          break;
        case ValueType::Binary:
          out += "b ";
          for (std::uint8_t b : value.bytes) {
            out += kHex[b >> 4];
            out += kHex[b & 15];
          }
          break;
      }
      out += "\n";
    }
  }
  return out;
}

}  // namespace qb::reg
