// Registry scripts run against the in-memory key store: what a script writes,
// what unregistering takes away, which scripts are refused untouched, and
// what a failure part-way leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/support/memory_key_store.h"
#include "server/portable/registry_script.h"

namespace {

using qb::reg::Failure;
using qb::reg::MemoryKeyStore;
using qb::reg::Result;
using qb::reg::Root;
using qb::reg::Variables;

const Variables kVars = {{"MODULE", "C:\\Q\\Quillbox.dll"}};

// The shape every class's script has.
constexpr const char* kClassScript = R"(HKCR
{
	Quillbox.Bright.1 = s 'Bright Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
	}
	Quillbox.Bright = s 'Bright Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
		CurVer = s 'Quillbox.Bright.1'
	}
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Bright Class'
		{
			ProgID = s 'Quillbox.Bright.1'
			VersionIndependentProgID = s 'Quillbox.Bright'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}'
		}
	}
}
)";

constexpr const char* kClassTree =
    R"(HKCR\CLSID
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}
HKCR\CLSID\{11111111-2222-3333-4444-555555555555} @ = s 'Bright Class'
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32 @ = s 'C:\Q\Quillbox.dll'
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32 ThreadingModel = s 'Apartment'
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\ProgID
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\ProgID @ = s 'Quillbox.Bright.1'
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\Programmable
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\TypeLib
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\TypeLib @ = s '{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}'
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\VersionIndependentProgID
HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\VersionIndependentProgID @ = s 'Quillbox.Bright'
HKCR\Quillbox.Bright
HKCR\Quillbox.Bright @ = s 'Bright Class'
HKCR\Quillbox.Bright\CLSID
HKCR\Quillbox.Bright\CLSID @ = s '{11111111-2222-3333-4444-555555555555}'
HKCR\Quillbox.Bright\CurVer
HKCR\Quillbox.Bright\CurVer @ = s 'Quillbox.Bright.1'
HKCR\Quillbox.Bright.1
HKCR\Quillbox.Bright.1 @ = s 'Bright Class'
HKCR\Quillbox.Bright.1\CLSID
HKCR\Quillbox.Bright.1\CLSID @ = s '{11111111-2222-3333-4444-555555555555}'
)";

// A registry that already holds the shared CLSID key and another server's class.
void AddOtherServer(MemoryKeyStore& store) {
  ASSERT_TRUE(qb::reg::Run("HKCR { CLSID { {99999999-0000-0000-0000-000000000000} = s 'Other' } }", {}, store,
                           true)
                  .ok());
}

std::string DumpAfterRegistering(const std::string& script, const Variables& vars = kVars) {
  MemoryKeyStore store;
  Result r = qb::reg::Run(script, vars, store, true);
  EXPECT_TRUE(r.ok()) << "line " << r.line << ": " << r.message;
  return store.Dump();
}

TEST(Unit, RegistryScriptClassShapeRegistersExactlyItsTree) {
  EXPECT_EQ(DumpAfterRegistering(kClassScript), kClassTree);
}

TEST(Unit, RegistryScriptRegisteringTwiceLeavesOneCopy) {
  MemoryKeyStore store;
  ASSERT_TRUE(qb::reg::Run(kClassScript, kVars, store, true).ok());
  // A stale subkey under the ForceRemove CLSID key must not survive.
  ASSERT_TRUE(store.CreateKey(Root::ClassesRoot, "CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale").ok());
  ASSERT_TRUE(qb::reg::Run(kClassScript, kVars, store, true).ok());
  EXPECT_EQ(store.Dump(), kClassTree);
}

TEST(Unit, RegistryScriptUnregisterRemovesClassKeysAndKeepsSharedOnes) {
  MemoryKeyStore store;
  AddOtherServer(store);
  const std::string before = store.Dump();
  ASSERT_TRUE(qb::reg::Run(kClassScript, kVars, store, true).ok());
  ASSERT_TRUE(qb::reg::Run(kClassScript, kVars, store, false).ok());
  EXPECT_EQ(store.Dump(), before);
  // A second unregistration finds nothing to remove and still succeeds.
  EXPECT_TRUE(qb::reg::Run(kClassScript, kVars, store, false).ok());
  EXPECT_EQ(store.Dump(), before);
}

// ---- Spellings a script may use ---------------------------------------------

struct Spelling {
  const char* name;
  const char* script;
  const char* tree;
};

class RegistryScriptSpelling : public testing::TestWithParam<Spelling> {};

TEST_P(RegistryScriptSpelling, RegistersTheExpectedTree) {
  const Variables vars = {{"MODULE", "C:\\100%\\q.dll"}, {"Other", "x"}};
  EXPECT_EQ(DumpAfterRegistering(GetParam().script, vars), GetParam().tree);
}

INSTANTIATE_TEST_SUITE_P(
    Unit, RegistryScriptSpelling,
    testing::Values(
        Spelling{"LongRootNames", "HKEY_CLASSES_ROOT { A } hkey_current_user { B } HKEY_LOCAL_MACHINE { C }",
                 "HKCR\\A\nHKCU\\B\nHKLM\\C\n"},
        Spelling{"ShortRootNamesAnyCase", "hkcr { A } HKU { B } HkCc { C } HKPD { D } HKDD { E }",
                 "HKCR\\A\nHKU\\B\nHKPD\\D\nHKDD\\E\nHKCC\\C\n"},
        Spelling{"QuotedNamesWithSpacesAndQuotes", "HKCR { 'my key' { val 'it''s' = s 'a ''b'' c' } }",
                 "HKCR\\my key\nHKCR\\my key it's = s 'a ''b'' c'\n"},
        Spelling{"QuotedBracesAreNames", "HKCR { '{' = s '}' }", "HKCR\\{\nHKCR\\{ @ = s '}'\n"},
        Spelling{"KeywordsAnyCaseAndQuotedKeywordsAreNames",
                 "HKCR { noremove K { VAL v = S 'x' } 'Val' 'Delete' }",
                 "HKCR\\Delete\nHKCR\\K\nHKCR\\K v = s 'x'\nHKCR\\Val\n"},
        Spelling{"VariablesAnyCaseAndDoublePercent", "HKCR { K = s '%module% %OTHER% 50%%' }",
                 "HKCR\\K\nHKCR\\K @ = s 'C:\\100%\\q.dll x 50%'\n"},
        Spelling{"VariableInKeyName", "HKCR { K%other% }", "HKCR\\Kx\n"},
        Spelling{"DwordDecimalHexAndLimits",
                 "HKCR { K { val a = d '0' val b = D '4294967295' val c = d '0x1F' val e = d '0XffffFFFF' "
                 "val f = d '007' } }",
                 "HKCR\\K\nHKCR\\K a = d 0\nHKCR\\K b = d 4294967295\nHKCR\\K c = d 31\n"
                 "HKCR\\K e = d 4294967295\nHKCR\\K f = d 7\n"},
        Spelling{"BinaryAnyCaseAndEmpty", "HKCR { K = B '00fFa5' { val e = b '' } }",
                 "HKCR\\K\nHKCR\\K @ = b 00ffa5\nHKCR\\K e = b \n"},
        Spelling{"BackslashNamesNestedKeys", "HKCU { 'Software\\Q' { Sub } }",
                 "HKCU\\Software\nHKCU\\Software\\Q\nHKCU\\Software\\Q\\Sub\n"},
        Spelling{"LinesMayBreakAnywhereAndBomIsSkipped", "\xEF\xBB\xBFHKCR\r\n{\r\nK\r\n=\r\ns\r\n'v'\r\n}\r\n",
                 "HKCR\\K\nHKCR\\K @ = s 'v'\n"}),
    [](const testing::TestParamInfo<Spelling>& info) { return std::string(info.param.name); });

// ---- Malformed scripts ------------------------------------------------------

struct Malformed {
  const char* name;
  std::string script;
  int line;
  const char* message;  // part of the message that says what is wrong
};

class RegistryScriptMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(RegistryScriptMalformed, IsRefusedWithoutTouchingTheStore) {
  MemoryKeyStore store;
  AddOtherServer(store);
  const std::string before = store.Dump();
  for (bool doRegister : {true, false}) {
    Result r = qb::reg::Run(GetParam().script, kVars, store, doRegister);
    EXPECT_EQ(r.failure, Failure::Syntax);
    EXPECT_EQ(r.line, GetParam().line);
    EXPECT_NE(r.message.find(GetParam().message), std::string::npos) << r.message;
    EXPECT_EQ(store.Dump(), before);
  }
}

std::string NestedTooDeeply() {
  std::string s = "HKCR {";
  for (int i = 0; i < 600; ++i) s += " K {";
  return s + std::string(600, '}') + " }";
}

// Every script starts with a valid block that would write keys, so a store
// that is touched before the whole script is read shows up.
INSTANTIATE_TEST_SUITE_P(
    Unit, RegistryScriptMalformed,
    testing::Values(
        Malformed{"Empty", " \n\t ", 2, "empty script"},
        Malformed{"OddHexDigits", "HKCR { A }\nHKCR { K = b 'abc' }", 2, "odd number"},
        Malformed{"NonHexDigits", "HKCR { A }\nHKCR { K = b 'zz' }", 2, "hex-digit"},
        Malformed{"UnclosedPercent", "HKCR { A }\nHKCR { K = s '50% off' }", 2, "closing '%'"},
        Malformed{"UnknownVariable", "HKCR { A }\nHKCR { K = s '%NOPE%' }", 2, "unknown variable %NOPE%"},
        Malformed{"UnknownTypeLetter", "HKCR { A }\nHKCR { K = x 'v' }", 2, "unknown value type 'x'"},
        Malformed{"TypeWord", "HKCR { A }\nHKCR { K = sz 'v' }", 2, "unknown value type 'sz'"},
        Malformed{"DwordTooLarge", "HKCR { A }\nHKCR { K = d '4294967296' }", 2, "32-bit"},
        Malformed{"DwordHexTooLarge", "HKCR { A }\nHKCR { K = d '0x100000000' }", 2, "32-bit"},
        Malformed{"DwordNegative", "HKCR { A }\nHKCR { K = d '-1' }", 2, "32-bit"},
        Malformed{"DwordBareHexPrefix", "HKCR { A }\nHKCR { K = d '0x' }", 2, "32-bit"},
        Malformed{"DwordEmpty", "HKCR { A }\nHKCR { K = d '' }", 2, "32-bit"},
        Malformed{"MissingClosingBrace", "HKCR { A }\nHKCR {\n K {\n }", 4, "opened on line 2"},
        Malformed{"MissingQuote", "HKCR { A }\nHKCR { K = s 'v }\n}", 2, "missing closing quote"},
        Malformed{"TextAfterQuote", "HKCR { A }\nHKCR { K = s 'v'x }", 2, "white space"},
        Malformed{"QuoteInsideWord", "HKCR { A }\nHKCR { K = s'v' }", 2, "quote inside"},
        Malformed{"UnknownRoot", "HKCR { A }\nHKEY_NOWHERE { K }", 2, "unknown root key 'HKEY_NOWHERE'"},
        Malformed{"QuotedRoot", "'HKCR' { A }", 1, "expected a root key"},
        Malformed{"TrailingJunk", "HKCR { A }\njunk", 2, "unknown root key 'junk'"},
        Malformed{"StrayCloseBrace", "HKCR { A }\n}", 2, "expected a root key, found '}'"},
        Malformed{"JunkAfterEquals", "HKCR { A }\nHKCR { K = }", 2, "type letter"},
        Malformed{"UnquotedValue", "HKCR { A }\nHKCR { K = s v }", 2, "quoted value"},
        Malformed{"DoubleEquals", "HKCR { A }\nHKCR { K = s 'v' = s 'w' }", 2, "expected a key name, found '='"},
        Malformed{"TwoFlags", "HKCR { A }\nHKCR { ForceRemove NoRemove K }", 2, "more than one flag"},
        Malformed{"FlagWithoutName", "HKCR { A }\nHKCR { NoRemove { } }", 2, "expected a key name"},
        Malformed{"ValueOnRoot", "HKCR { A }\nHKCR { val v = s 'x' }", 2, "root key"},
        Malformed{"ValueWithoutEquals", "HKCR { A }\nHKCR { K { val v s 'x' } }", 2, "expected '='"},
        Malformed{"EmptyKeyName", "HKCR { A }\nHKCR { '' }", 2, "empty key name"},
        Malformed{"EmptyPartInKeyName", "HKCR { A }\nHKCR { 'a\\\\b' }", 2, "empty part"},
        Malformed{"NulCharacter", std::string("HKCR { A }\nHKCR { K\0 }", 22), 2, "NUL"},
        Malformed{"NestedTooDeeply", NestedTooDeeply(), 1, "nested too deeply"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

// ---- Failure part-way -------------------------------------------------------

// Whichever store call fails, the run reports it and leaves no key it created;
// keys that were there before stay.
TEST(Unit, RegistryScriptFailurePartWayRemovesEveryKeyTheRunCreated) {
  using Op = MemoryKeyStore::Op;
  for (Op op : {Op::CreateKey, Op::SetValue}) {
    MemoryKeyStore counting;
    AddOtherServer(counting);
    const int before = counting.Calls(op);
    ASSERT_TRUE(qb::reg::Run(kClassScript, kVars, counting, true).ok());
    const int calls = counting.Calls(op) - before;
    ASSERT_GT(calls, 5);
    for (int nth = 1; nth <= calls; ++nth) {
      SCOPED_TRACE("call " + std::to_string(nth) + " of " + (op == Op::CreateKey ? "CreateKey" : "SetValue"));
      MemoryKeyStore store;
      AddOtherServer(store);
      const std::string original = store.Dump();
      store.FailNth(op, nth, 1234);
      Result r = qb::reg::Run(kClassScript, kVars, store, true);
      EXPECT_EQ(r.failure, Failure::Store);
      EXPECT_EQ(r.code, 1234);
      EXPECT_GT(r.line, 0);
      EXPECT_EQ(store.Dump(), original);
    }
  }
}

TEST(Unit, RegistryScriptForceRemoveFailureReportsTheDeletion) {
  MemoryKeyStore store;
  ASSERT_TRUE(qb::reg::Run("HKCR { K { Old } }", {}, store, true).ok());
  store.FailNth(MemoryKeyStore::Op::DeleteTree, 1, 5);
  Result r = qb::reg::Run("HKCR { New\nForceRemove K }", {}, store, true);
  EXPECT_EQ(r.failure, Failure::Store);
  EXPECT_EQ(r.line, 2);
  EXPECT_EQ(store.Dump(), "HKCR\\K\nHKCR\\K\\Old\n");
}

// ---- Flags --------------------------------------------------------------------

TEST(Unit, RegistryScriptDeleteRemovesTheKeyAndSkipsItsBlock) {
  MemoryKeyStore store;
  ASSERT_TRUE(qb::reg::Run("HKCR { Gone { Child } Kept }", {}, store, true).ok());
  ASSERT_TRUE(qb::reg::Run("HKCR { Delete Gone = s 'x' { New } Delete Absent { New } }", {}, store, true).ok());
  EXPECT_EQ(store.Dump(), "HKCR\\Kept\n");
  // Unregistering does not bring it back or touch anything else.
  ASSERT_TRUE(qb::reg::Run("HKCR { Delete Kept }", {}, store, false).ok());
  EXPECT_EQ(store.Dump(), "HKCR\\Kept\n");
}

TEST(Unit, RegistryScriptUnregisterKeepsNoRemoveKeysAndKeysStillInUse) {
  MemoryKeyStore store;
  const char* script = R"(HKCR {
    NoRemove Shared = s 'shared' { val SharedValue = s 'x'  Ours { Leaf } }
    Plain = s 'p' { val Mine = d '1'  Sub }
    ForceRemove Whole { Deep { Deeper } }
  })";
  ASSERT_TRUE(qb::reg::Run(script, {}, store, true).ok());
  // Keys and values that others added later.
  ASSERT_TRUE(store.CreateKey(Root::ClassesRoot, "Plain\\Foreign").ok());
  ASSERT_TRUE(store.SetValue(Root::ClassesRoot, "Plain", "Theirs", qb::reg::Value::Dword(2)).ok());
  ASSERT_TRUE(store.CreateKey(Root::ClassesRoot, "Whole\\Foreign").ok());

  ASSERT_TRUE(qb::reg::Run(script, {}, store, false).ok());
  EXPECT_EQ(store.Dump(),
            "HKCR\\Plain\nHKCR\\Plain @ = s 'p'\nHKCR\\Plain Theirs = d 2\nHKCR\\Plain\\Foreign\n"
            "HKCR\\Shared\nHKCR\\Shared @ = s 'shared'\nHKCR\\Shared SharedValue = s 'x'\n");
}

TEST(Unit, RegistryScriptNestedNameRollsBackEveryLevelItCreated) {
  MemoryKeyStore store;
  ASSERT_TRUE(store.CreateKey(Root::CurrentUser, "Software").ok());
  store.FailNth(MemoryKeyStore::Op::SetValue, 1);
  Result r = qb::reg::Run("HKCU { 'Software\\Q\\R\\S' = s 'v' }", {}, store, true);
  EXPECT_EQ(r.failure, Failure::Store);
  EXPECT_EQ(r.code, qb::reg::kErrorAccessDenied);
  EXPECT_EQ(store.Dump(), "HKCU\\Software\n");
}

// The store creates only the missing levels, keeping the case each was
// first created in; a key of hundreds of levels registers and unregisters
// whole (the walk costs one store operation a level).
TEST(Unit, RegistryScriptDeepKeysCreateEveryMissingLevelOnce) {
  MemoryKeyStore store;
  ASSERT_TRUE(store.CreateKey(Root::CurrentUser, "A\\B").ok());
  ASSERT_TRUE(store.CreateKey(Root::CurrentUser, "a\\b\\C\\D").ok());
  EXPECT_EQ(store.Dump(), "HKCU\\A\nHKCU\\A\\B\nHKCU\\A\\B\\C\nHKCU\\A\\B\\C\\D\n");

  std::string name = "k";
  for (int i = 1; i < 527; ++i) name += "\\k";
  MemoryKeyStore deep;
  ASSERT_TRUE(qb::reg::Run("HKCR { '" + name + "' = s 'v' }", {}, deep, true).ok());
  EXPECT_EQ(deep.Calls(MemoryKeyStore::Op::CreateKey), 527);
  EXPECT_EQ(deep.GetValue(Root::ClassesRoot, name, ""), qb::reg::Value::String("v"));
  ASSERT_TRUE(qb::reg::Run("HKCR { '" + name + "' = s 'v' }", {}, deep, false).ok());
  EXPECT_FALSE(deep.KeyExists(Root::ClassesRoot, name));
}

}  // namespace
