#include "server/portable/registry_script.h"

#include <algorithm>
#include <array>
#include <utility>

namespace qb::reg {

namespace {

// The registry allows keys to nest at most 512 levels deep; a script that
// nests blocks deeper cannot be registered, and refusing it early keeps the
// recursive parser's stack bounded on hostile input.
constexpr int kMaxDepth = 512;

char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct RootSpelling {
  Root root;
  std::string_view shortName;
  std::string_view longName;
};

constexpr std::array<RootSpelling, 7> kRoots = {{
    {Root::ClassesRoot, "HKCR", "HKEY_CLASSES_ROOT"},
    {Root::CurrentUser, "HKCU", "HKEY_CURRENT_USER"},
    {Root::LocalMachine, "HKLM", "HKEY_LOCAL_MACHINE"},
    {Root::Users, "HKU", "HKEY_USERS"},
    {Root::PerformanceData, "HKPD", "HKEY_PERFORMANCE_DATA"},
    {Root::DynData, "HKDD", "HKEY_DYN_DATA"},
    {Root::CurrentConfig, "HKCC", "HKEY_CURRENT_CONFIG"},
}};

std::optional<Root> LookUpRoot(std::string_view word) {
  for (const RootSpelling& r : kRoots)
    if (EqualsNoCase(word, r.shortName) || EqualsNoCase(word, r.longName)) return r.root;
  return std::nullopt;
}

std::optional<KeyFlag> LookUpFlag(std::string_view word) {
  if (EqualsNoCase(word, "ForceRemove")) return KeyFlag::ForceRemove;
  if (EqualsNoCase(word, "NoRemove")) return KeyFlag::NoRemove;
  if (EqualsNoCase(word, "Delete")) return KeyFlag::Delete;
  return std::nullopt;
}

Result SyntaxError(int line, std::string message) {
  return Result{Failure::Syntax, 0, line, std::move(message)};
}

// ---- Scanner ---------------------------------------------------------------

enum class Tok { Word, Quoted, Open, Close, Equals, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;
  int line = 0;
};

std::string Describe(const Token& t) {
  switch (t.kind) {
    case Tok::Word: return "'" + t.text + "'";
    case Tok::Quoted: return "quoted string '" + t.text + "'";
    case Tok::Open: return "'{'";
    case Tok::Close: return "'}'";
    case Tok::Equals: return "'='";
    case Tok::End: break;
  }
  return "end of script";
}

// Replaces %NAME% from the variables and %% with one percent sign. The
// substituted text is not scanned again, so a module path holding '%' is
// taken as it is.
Result Substitute(std::string_view in, const Variables& vars, int line, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < in.size()) {
    size_t pct = in.find('%', i);
    if (pct == std::string_view::npos) {
      out.append(in.substr(i));
      break;
    }
    out.append(in.substr(i, pct - i));
    size_t close = in.find('%', pct + 1);
    if (close == std::string_view::npos)
      return SyntaxError(line, "'%' without a closing '%' in '" + std::string(in) + "'");
    std::string_view name = in.substr(pct + 1, close - pct - 1);
    if (name.empty()) {
      out.push_back('%');
    } else {
      auto it = vars.find(name);
      if (it == vars.end()) return SyntaxError(line, "unknown variable %" + std::string(name) + "%");
      out.append(it->second);
    }
    i = close + 1;
  }
  return {};
}

Result Scan(std::string_view text, const Variables& vars, std::vector<Token>& tokens) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  size_t i = text.starts_with(kBom) ? kBom.size() : 0;
  int line = 1;
  const size_t n = text.size();
  for (;;) {
    while (i < n && IsSpace(text[i])) {
      if (text[i] == '\n') ++line;
      ++i;
    }
    if (i == n) break;

    Token tok;
    tok.line = line;
    std::string raw;
    if (text[i] == '\'') {
      // Quoted strings stay on one line, so a missing quote is reported
      // where it is missing rather than at the end of the script.
      size_t j = i + 1;
      for (;;) {
        if (j == n || text[j] == '\n' || text[j] == '\r') return SyntaxError(line, "missing closing quote");
        if (text[j] == '\0') return SyntaxError(line, "NUL character in script");
        if (text[j] == '\'') {
          if (j + 1 < n && text[j + 1] == '\'') {
            raw.push_back('\'');
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        raw.push_back(text[j++]);
      }
      if (j < n && !IsSpace(text[j]))
        return SyntaxError(line, "quoted string '" + raw + "' must be followed by white space");
      tok.kind = Tok::Quoted;
      i = j;
    } else {
      size_t j = i;
      while (j < n && !IsSpace(text[j])) {
        if (text[j] == '\0') return SyntaxError(line, "NUL character in script");
        if (text[j] == '\'')
          return SyntaxError(line, "quote inside the word '" + std::string(text.substr(i, j - i + 1)) + "'");
        ++j;
      }
      raw.assign(text.substr(i, j - i));
      i = j;
      tok.kind = raw == "{" ? Tok::Open : raw == "}" ? Tok::Close : raw == "=" ? Tok::Equals : Tok::Word;
    }
    if (tok.kind == Tok::Word || tok.kind == Tok::Quoted) {
      if (Result r = Substitute(raw, vars, line, tok.text); !r.ok()) return r;
    }
    tokens.push_back(std::move(tok));
  }
  tokens.push_back(Token{Tok::End, {}, line});
  return {};
}

// ---- Parser ----------------------------------------------------------------

bool ParseDword(const std::string& s, std::uint32_t& out) {
  std::uint64_t v = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    for (size_t k = 2; k < s.size(); ++k) {
      int d = HexDigit(s[k]);
      if (d < 0) return false;
      v = v * 16 + static_cast<std::uint64_t>(d);
      if (v > 0xFFFFFFFFu) return false;
    }
  } else {
    if (s.empty()) return false;
    for (char c : s) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<std::uint64_t>(c - '0');
      if (v > 0xFFFFFFFFu) return false;
    }
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

  Result ParseScript(Script& out) {
    if (Peek().kind == Tok::End) return SyntaxError(Peek().line, "empty script");
    while (Peek().kind != Tok::End) {
      RootNode root;
      if (Result r = ParseRoot(root); !r.ok()) return r;
      out.roots.push_back(std::move(root));
    }
    return {};
  }

 private:
  const Token& Peek() const { return m_tokens[m_pos]; }
  const Token& Next() {
    const Token& t = m_tokens[m_pos];
    if (t.kind != Tok::End) ++m_pos;
    return t;
  }

  Result ParseRoot(RootNode& root) {
    const Token& t = Next();
    root.line = t.line;
    std::optional<Root> which = t.kind == Tok::Word ? LookUpRoot(t.text) : std::nullopt;
    if (!which) {
      if (t.kind == Tok::Word) return SyntaxError(t.line, "unknown root key '" + t.text + "'");
      return SyntaxError(t.line, "expected a root key, found " + Describe(t));
    }
    root.root = *which;
    const Token& open = Next();
    if (open.kind != Tok::Open)
      return SyntaxError(open.line, "expected '{' after " + t.text + ", found " + Describe(open));
    return ParseBlock(root.keys, nullptr, 1, open.line);
  }

  // Key lines (and, where `values` is given, named values) up to the '}'
  // that closes the block opened on `openLine`.
  Result ParseBlock(std::vector<KeyNode>& keys, std::vector<NamedValue>* values, int depth, int openLine) {
    for (;;) {
      const Token& t = Peek();
      if (t.kind == Tok::Close) {
        Next();
        return {};
      }
      if (t.kind == Tok::End)
        return SyntaxError(t.line, "missing '}' closing the block opened on line " + std::to_string(openLine));
      if (t.kind == Tok::Word && EqualsNoCase(t.text, "Val")) {
        if (!values) return SyntaxError(t.line, "named values belong to keys, not to a root key");
        NamedValue v;
        if (Result r = ParseNamedValue(v); !r.ok()) return r;
        values->push_back(std::move(v));
        continue;
      }
      KeyNode key;
      if (Result r = ParseKey(key, depth); !r.ok()) return r;
      keys.push_back(std::move(key));
    }
  }

  Result ParseKey(KeyNode& key, int depth) {
    key.line = Peek().line;
    if (Peek().kind == Tok::Word) {
      if (std::optional<KeyFlag> flag = LookUpFlag(Peek().text)) {
        key.flag = *flag;
        Next();
      }
    }
    const Token& name = Next();
    if (name.kind != Tok::Word && name.kind != Tok::Quoted)
      return SyntaxError(name.line, "expected a key name, found " + Describe(name));
    if (name.kind == Tok::Word && LookUpFlag(name.text))
      return SyntaxError(name.line, "more than one flag on key '" + name.text + "'");
    if (Result r = CheckKeyName(name); !r.ok()) return r;
    key.name = name.text;

    if (Peek().kind == Tok::Equals) {
      Next();
      Value v;
      if (Result r = ParseTypedValue(v); !r.ok()) return r;
      key.defaultValue = std::move(v);
    }
    if (Peek().kind == Tok::Open) {
      const Token& open = Next();
      if (depth >= kMaxDepth) return SyntaxError(open.line, "keys nested too deeply");
      return ParseBlock(key.subkeys, &key.values, depth + 1, open.line);
    }
    return {};
  }

  // A key name may name nested keys with '\', but none of its parts may be
  // empty: an empty part would address the parent key instead.
  static Result CheckKeyName(const Token& name) {
    const std::string& s = name.text;
    if (s.empty()) return SyntaxError(name.line, "empty key name");
    if (s.front() == '\\' || s.back() == '\\' || s.find("\\\\") != std::string::npos)
      return SyntaxError(name.line, "key name '" + s + "' has an empty part");
    return {};
  }

  Result ParseNamedValue(NamedValue& v) {
    v.line = Next().line;  // Val
    const Token& name = Next();
    if (name.kind != Tok::Word && name.kind != Tok::Quoted)
      return SyntaxError(name.line, "expected a value name after Val, found " + Describe(name));
    v.name = name.text;
    const Token& eq = Next();
    if (eq.kind != Tok::Equals)
      return SyntaxError(eq.line, "expected '=' after value name '" + v.name + "', found " + Describe(eq));
    return ParseTypedValue(v.value);
  }

  Result ParseTypedValue(Value& out) {
    const Token& type = Next();
    if (type.kind != Tok::Word)
      return SyntaxError(type.line, "expected a type letter after '=', found " + Describe(type));
    const char letter = type.text.size() == 1 ? FoldChar(type.text[0]) : '\0';
    if (letter != 's' && letter != 'd' && letter != 'b')
      return SyntaxError(type.line, "unknown value type '" + type.text + "' (expected s, d or b)");
    const Token& val = Next();
    if (val.kind != Tok::Quoted)
      return SyntaxError(val.line, "expected a quoted value after type '" + type.text + "', found " + Describe(val));

    if (letter == 's') {
      out = Value::String(val.text);
    } else if (letter == 'd') {
      std::uint32_t n = 0;
      if (!ParseDword(val.text, n))
        return SyntaxError(val.line, "'" + val.text + "' is not an unsigned 32-bit number");
      out = Value::Dword(n);
    } else {
      const std::string& hex = val.text;
      if (hex.size() % 2 != 0) return SyntaxError(val.line, "odd number of hex digits in '" + hex + "'");
      std::vector<std::uint8_t> bytes;
      bytes.reserve(hex.size() / 2);
      for (size_t k = 0; k < hex.size(); k += 2) {
        int hi = HexDigit(hex[k]), lo = HexDigit(hex[k + 1]);
        if (hi < 0 || lo < 0) return SyntaxError(val.line, "'" + hex + "' is not a hex-digit string");
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      }
      out = Value::Binary(std::move(bytes));
    }
    return {};
  }

  std::vector<Token> m_tokens;
  size_t m_pos = 0;
};

// ---- Evaluation ------------------------------------------------------------

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

std::string FullName(Root root, const std::string& path) {
  return std::string(RootName(root)) + "\\" + path;
}

Result StoreError(Status s, int line, const std::string& what) {
  return Result{Failure::Store, s.code, line, what + " (error " + std::to_string(s.code) + ")"};
}

class Registrar {
 public:
  explicit Registrar(KeyStore& store) : m_store(store) {}

  Result Run(const Script& script) {
    for (const RootNode& root : script.roots) {
      for (const KeyNode& key : root.keys) {
        if (Result r = RegisterKey(root.root, {}, key); !r.ok()) {
          RollBack();
          return r;
        }
      }
    }
    return {};
  }

 private:
  Result RegisterKey(Root root, const std::string& parent, const KeyNode& key) {
    const std::string path = Join(parent, key.name);
    if (key.flag == KeyFlag::ForceRemove || key.flag == KeyFlag::Delete) {
      if (m_store.KeyExists(root, path)) {
        if (Status s = m_store.DeleteTree(root, path); !s.ok())
          return StoreError(s, key.line, "cannot delete key " + FullName(root, path));
      }
      if (key.flag == KeyFlag::Delete) return {};
    }

    // Open or create one level at a time, so that every key this run brings
    // into being is on the list that a failure undoes. A ForceRemove key
    // counts as created: its old contents are already gone.
    std::string level = parent;
    size_t start = 0;
    for (;;) {
      size_t sep = key.name.find('\\', start);
      level = Join(level, key.name.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
      if (!m_store.KeyExists(root, level)) {
        if (Status s = m_store.CreateKey(root, level); !s.ok())
          return StoreError(s, key.line, "cannot create key " + FullName(root, level));
        m_created.emplace_back(root, level);
      }
      if (sep == std::string::npos) break;
      start = sep + 1;
    }

    if (key.defaultValue) {
      if (Status s = m_store.SetValue(root, path, {}, *key.defaultValue); !s.ok())
        return StoreError(s, key.line, "cannot set the default value of " + FullName(root, path));
    }
    for (const NamedValue& v : key.values) {
      if (Status s = m_store.SetValue(root, path, v.name, v.value); !s.ok())
        return StoreError(s, v.line, "cannot set value '" + v.name + "' of " + FullName(root, path));
    }
    for (const KeyNode& sub : key.subkeys) {
      if (Result r = RegisterKey(root, path, sub); !r.ok()) return r;
    }
    return {};
  }

  // Newest first, so that children go before their parents. Failures are
  // ignored: the run has already failed and is reporting its first error.
  void RollBack() {
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
      if (m_store.KeyExists(it->first, it->second)) m_store.DeleteTree(it->first, it->second);
    }
    m_created.clear();
  }

  KeyStore& m_store;
  std::vector<std::pair<Root, std::string>> m_created;
};

void UnregisterKey(KeyStore& store, Root root, const std::string& parent, const KeyNode& key) {
  const std::string path = Join(parent, key.name);
  switch (key.flag) {
    case KeyFlag::Delete:
      return;
    case KeyFlag::ForceRemove:
      store.DeleteTree(root, path);
      return;
    case KeyFlag::NoRemove:
      if (!store.KeyExists(root, path)) return;
      for (const KeyNode& sub : key.subkeys) UnregisterKey(store, root, path, sub);
      return;
    case KeyFlag::None:
      break;
  }
  if (!store.KeyExists(root, path)) return;
  for (const KeyNode& sub : key.subkeys) UnregisterKey(store, root, path, sub);
  for (const NamedValue& v : key.values) store.DeleteValue(root, path, v.name);
  // Only the key the line names goes: the parents of a nested name may be
  // shared with others.
  if (!store.HasSubkeys(root, path)) store.DeleteKey(root, path);
}

}  // namespace

std::string_view RootName(Root root) {
  for (const RootSpelling& r : kRoots)
    if (r.root == root) return r.shortName;
  return "?";
}

Value Value::String(std::string s) {
  Value v;
  v.type = ValueType::String;
  v.text = std::move(s);
  return v;
}

Value Value::Dword(std::uint32_t n) {
  Value v;
  v.type = ValueType::Dword;
  v.number = n;
  return v;
}

Value Value::Binary(std::vector<std::uint8_t> b) {
  Value v;
  v.type = ValueType::Binary;
  v.bytes = std::move(b);
  return v;
}

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return FoldChar(x) < FoldChar(y); });
}

Result Parse(std::string_view text, const Variables& variables, Script& out) {
  out = {};
  std::vector<Token> tokens;
  if (Result r = Scan(text, variables, tokens); !r.ok()) return r;
  Parser parser(std::move(tokens));
  Script script;
  if (Result r = parser.ParseScript(script); !r.ok()) return r;
  out = std::move(script);
  return {};
}

Result Register(const Script& script, KeyStore& store) { return Registrar(store).Run(script); }

Result Unregister(const Script& script, KeyStore& store) {
  for (const RootNode& root : script.roots)
    for (const KeyNode& key : root.keys) UnregisterKey(store, root.root, {}, key);
  return {};
}

Result Run(std::string_view text, const Variables& variables, KeyStore& store, bool doRegister) {
  Script script;
  if (Result r = Parse(text, variables, script); !r.ok()) return r;
  return doRegister ? Register(script, store) : Unregister(script, store);
}

}  // namespace qb::reg
