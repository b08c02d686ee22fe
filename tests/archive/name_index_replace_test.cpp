// Replacing a string in the hashed name list keeps every lookup equal to what a freshly built
// list answers, also where duplicates, upper-case stored strings or a case-sensitive list would
// leave a stale or shadowing node behind (cases first found by fuzzing the list against a model).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/name_index.h"

namespace lumen {
namespace {

struct Lookup {
  std::u16string probe;
  int32_t expected;
};

struct ReplaceCase {
  const char* what;
  bool caseSensitive;
  std::vector<std::u16string> strings;
  int32_t index;
  std::u16string replacement;
  std::vector<Lookup> lookups;
};

const ReplaceCase kCases[] = {
    {"an older duplicate is replaced: the newer one keeps its node",
     false,
     {u"x", u"x"},
     0,
     u"y",
     {{u"x", 1}, {u"y", 0}}},
    {"a newer duplicate is replaced: the older one is found again",
     false,
     {u"x", u"x"},
     1,
     u"y",
     {{u"x", 0}, {u"y", 1}}},
    {"the new string also stands at a higher index, which still wins",
     false,
     {u"a", u"b"},
     0,
     u"b",
     {{u"a", -1}, {u"b", 1}}},
    {"the new string also stands at a lower index, which the replaced one now shadows",
     false,
     {u"b", u"a"},
     1,
     u"b",
     {{u"a", -1}, {u"b", 1}}},
    {"a stored string that is not lower-cased leaves no stale node",
     false,
     {u"README.TXT"},
     0,
     u"other",
     {{u"readme.txt", -1}, {u"OTHER", 0}}},
    {"a non-ASCII upper-case string likewise",
     false,
     {u"\u0424\u0410\u0419\u041B"},
     0,
     u"x",
     {{u"\u0444\u0430\u0439\u043B", -1}, {u"x", 0}}},
    {"a case-sensitive list keys the new string as it is",
     true,
     {u"A"},
     0,
     u"B",
     {{u"A", -1}, {u"B", 0}, {u"b", -1}}},
    {"the same key again changes nothing", false, {u"a", u"A"}, 0, u"A", {{u"a", 1}}},
};

TEST(HashedStringListReplace, LookupsMatchAFreshList) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    TZAHashedStringList list;
    list.SetCaseSensitive(c.caseSensitive);
    for (const auto& s : c.strings) list.Add(s);
    ASSERT_EQ(list.IndexOf(u"\u0001"), -1);  // builds the table before the replacement
    list.Replace(c.index, c.replacement);

    TZAHashedStringList fresh;
    fresh.SetCaseSensitive(c.caseSensitive);
    std::vector<std::u16string> after = c.strings;
    after[static_cast<size_t>(c.index)] = c.replacement;
    for (const auto& s : after) fresh.Add(s);

    for (const auto& l : c.lookups) {
      EXPECT_EQ(list.IndexOf(l.probe), l.expected) << "probe " << l.probe.size() << " units";
      EXPECT_EQ(fresh.IndexOf(l.probe), l.expected);
    }
    for (const auto& s : after) EXPECT_EQ(list.IndexOf(s), fresh.IndexOf(s));
  }
}

// The directory's own use: lower-cased names, each replaced while it is the last of its key. The
// table is then re-keyed in place and stays valid, so the replacement costs no rebuild.
TEST(HashedStringListReplace, LastOfItsKeyIsRekeyedWithoutARebuild) {
  TZAHashedStringList list;
  list.Add(u"a");
  list.Add(u"");
  ASSERT_EQ(list.IndexOf(u""), 1);
  list.Replace(1, u"setup.exe");
  EXPECT_TRUE(list.ValueHashValid());
  EXPECT_EQ(list.IndexOf(u"Setup.EXE"), 1);
  EXPECT_EQ(list.IndexOf(u""), -1);
  EXPECT_EQ(list.IndexOf(u"a"), 0);
}

}  // namespace
}  // namespace lumen
