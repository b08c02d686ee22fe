// Masks and wildcards of the archiver's entry search, checked against tables of cases and, for
// the wildcard matcher, against the plain recursive definition over every short name and pattern.
#include "archive/name_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace lumen {
namespace {

std::string Show(std::u16string_view text) {
  return WideToUtf8(text);
}

// The matching rule written the obvious way: exponential, but the yardstick for small inputs.
bool ReferenceMatch(std::u16string_view n, std::u16string_view p) {
  if (p == u"*") return true;
  if (p.empty()) return n.empty();
  if (p[0] == u'*') {
    for (size_t skip = 0; skip < n.size(); ++skip) {
      if (ReferenceMatch(n.substr(skip), p.substr(1))) return true;
    }
    return false;
  }
  if (n.empty()) return false;
  if (p[0] != u'?' && UpperChar(p[0]) != UpperChar(n[0])) return false;
  return ReferenceMatch(n.substr(1), p.substr(1));
}

bool Reference(std::u16string_view n, std::u16string_view p) {
  return p == u"*.*" || ReferenceMatch(n, p);
}

void AllStrings(const std::u16string& alphabet, size_t maxLength, std::u16string& current,
                std::vector<std::u16string>& out) {
  out.push_back(current);
  if (current.size() == maxLength) return;
  for (char16_t c : alphabet) {
    current.push_back(c);
    AllStrings(alphabet, maxLength, current, out);
    current.pop_back();
  }
}

std::vector<std::u16string> AllStrings(const std::u16string& alphabet, size_t maxLength) {
  std::vector<std::u16string> out;
  std::u16string current;
  AllStrings(alphabet, maxLength, current, out);
  return out;
}

TEST(WildcardMatch, AgreesWithTheRecursiveRuleOnAllShortInputs) {
  // Mixed case on both sides, so case folding is exercised along with every wildcard placement.
  const std::vector<std::u16string> names = AllStrings(u"aB.", 5);
  const std::vector<std::u16string> patterns = AllStrings(u"Ab*?.", 5);
  size_t mismatches = 0;
  for (const std::u16string& p : patterns) {
    for (const std::u16string& n : names) {
      if (WildcardMatch(n, p) != Reference(n, p) && ++mismatches <= 10) {
        ADD_FAILURE() << "name \"" << Show(n) << "\" pattern \"" << Show(p) << "\"";
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

struct Case {
  std::u16string name;
  std::u16string pattern;
  bool expected;
};

void ExpectAll(bool (*match)(std::u16string_view, std::u16string_view),
               const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(match(c.name, c.pattern), c.expected)
        << "name \"" << Show(c.name) << "\" pattern \"" << Show(c.pattern) << "\"";
  }
}

TEST(WildcardMatch, Table) {
  ExpectAll(WildcardMatch, {
                               {u"", u"*.*", true},  // "*.*" takes every name, even one without "."
                               {u"abc", u"*.*", true},
                               {u"", u"*", true},
                               {u"", u"", true},
                               {u"a", u"", false},
                               {u"", u"?", false},
                               {u"a", u"a*", true},
                               {u"a", u"a**", false},  // a trailing "**" wants one character
                               {u"ab", u"a**", true},
                               {u"", u"**", false},
                               {u"x", u"**", true},
                               {u"ab", u"a*?", true},
                               {u"a", u"a*?", false},
                               {u"abcabc", u"*bc", true},
                               {u"abcab", u"*bc", false},
                               {u"mississippi", u"m*iss*pi", true},
                               {u"mississippi", u"m*iss*ppx", false},
                               {u"Ёлка", u"ёЛКА", true},
                               {u"straße", u"STRASSE", false},  // one unit at a time, no expansion
                           });
}

TEST(MatchesMask, Table) {
  ExpectAll(MatchesMask,
            {
                // extension masks, any letter case
                {u"readme.txt", u"*.txt", true},
                {u"README.TXT", u"*.txt", true},
                {u"readme.txt", u"*.TxT", true},
                {u"readme.txt", u"*.bin", false},
                {u"readme.txt.bak", u"*.txt", false},
                {u"readme.txt", u"readme.*", true},
                // "*.*" means everything
                {u"readme.txt", u"*.*", true},
                {u"readme", u"*.*", true},
                {u"", u"*.*", true},
                {u"readme.txt", u"r*.*", true},  // only the first "*.*" turns into "*"
                {u"readme", u"r*.*", true},
                // "*." means names without an extension
                {u"readme", u"*.", true},
                {u"readme.txt", u"*.", false},
                {u"readme.", u"*.", true},
                {u"a..", u"*.", true},
                {u"a.b.", u"*.", false},
                {u"tiny", u"tiny.", true},
                {u"tiny.txt", u"tiny.txt.", false},
                {u"docs\\a.b\\file", u"*.", true},  // the dot is in a folder, not in the extension
                {u"c:a.b", u"*.", false},
                // a final "." of the name is ignored
                {u"tiny.", u"tiny", true},
                {u"tiny..", u"tiny", false},
                {u".", u".", true},
                {u"x", u".", false},
                // "?" is exactly one character
                {u"a.txt", u"?.txt", true},
                {u"ab.txt", u"?.txt", false},
                {u".txt", u"?.txt", false},
                {u"tiny.txt", u"t??y.*", true},
                // "*" inside the mask
                {u"readme.txt", u"r*e.txt", true},
                {u"readme.txt", u"r*x.txt", false},
                {u"aXbXc", u"a*b*c", true},
                {u"acb", u"a*b*c", false},
                // Cyrillic and other letters fold case too
                {u"Отчёт.TXT", u"отчёт.txt", true},
                {u"ПРИВЕТ.doc", u"*вет.*", true},
                {u"привет.doc", u"Пока*", false},
                {u"Übersicht.PDF", u"ü*.pdf", true},
                // names with folders: "*" and "?" cross "/" freely, letters still fold
                {u"docs/sub/notes.txt", u"docs/sub/*.txt", true},
                {u"docs/sub/notes.txt", u"*.txt", true},
                {u"docs/notes.txt", u"DOCS/NOTES.TXT", true},
                {u"docs/notes.txt", u"docs\\notes.txt", false},
                {u"docs/notes.txt", u"docs?notes.txt", true},
                // the empty mask matches nothing
                {u"anything", u"", false},
                {u"", u"", false},
                {u"", u"*", true},
            });
}

TEST(MatchesMask, PathologicalMasksFinish) {
  const std::u16string as(5000, u'a');
  const std::u16string pattern = u"*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(WildcardMatch(as, pattern));
  EXPECT_TRUE(WildcardMatch(as + u"b", pattern));
  EXPECT_FALSE(MatchesMask(as + u".txt", u"*a*a*a*a*a*a*a*b.txt"));
  EXPECT_TRUE(MatchesMask(as + u"b.txt", u"*a*a*a*a*a*a*a*b.txt"));
  EXPECT_FALSE(WildcardMatch(as, u"*?*?*?*?*?*?*?*?*?*?*?b**"));
}

TEST(NameParts, FoldersFileNamesAndSeparators) {
  struct Row {
    std::u16string in;
    std::u16string entryFolder, maskFolder, fileName, trimmed;
  };
  const Row rows[] = {
      {u"readme.txt", u"", u"", u"readme.txt", u"readme.txt"},
      {u"docs/sub/notes.txt", u"docs\\sub\\", u"docs\\sub\\", u"notes.txt", u"docs/sub/notes.txt"},
      {u"Docs/Sub/", u"docs\\", u"docs\\sub\\", u"", u"Docs/Sub"},
      {u"Docs\\Sub\\", u"docs\\sub\\", u"docs\\sub\\", u"", u"Docs\\Sub"},
      {u"Папка/ФАЙЛ.txt", u"папка\\", u"папка\\", u"ФАЙЛ.txt", u"Папка/ФАЙЛ.txt"},
      {u"c:readme", u"c:", u"c:", u"readme", u"c:readme"},
      {u"/abs", u"\\", u"\\", u"abs", u"/abs"},
      {u"docs//", u"docs\\", u"docs\\\\", u"", u"docs/"},
      {u"", u"", u"", u"", u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Show(r.in));
    EXPECT_EQ(EntryFolder(r.in), r.entryFolder);
    EXPECT_EQ(MaskFolder(r.in), r.maskFolder);
    EXPECT_EQ(FileNamePart(r.in), r.fileName);
    EXPECT_EQ(WithoutTrailingSeparator(r.in), r.trimmed);
  }
  EXPECT_TRUE(HasWildcards(u"a*"));
  EXPECT_TRUE(HasWildcards(u"?"));
  EXPECT_FALSE(HasWildcards(u"docs/readme.txt"));
}

TEST(NameParts, FolderAndNameTestsOfTheSearch) {
  struct Row {
    std::u16string entry, mask;
    bool inFolder, nameMatches;
  };
  const Row rows[] = {
      {u"readme.txt", u"*.txt", true, true},
      {u"docs/sub/notes.txt", u"*.txt", false, true},  // matches, but lies in a folder
      {u"docs/sub/notes.txt", u"docs/sub/*.TXT", true, true},
      {u"DOCS/Sub/notes.txt", u"docs/sub/*.txt", true, true},
      {u"docs/sub/notes.txt", u"docs/*.txt", false, true},
      {u"docs/sub/notes.txt", u"notes.txt", false, true},  // through the file-name part
      {u"docs/sub/", u"docs/s*", true, true},              // a folder entry, trailing "/" dropped
      {u"docs/sub/", u"sub", false, true},
      {u"docs/sub/notes.txt", u"sub/notes.txt", false, false},
      {u"docs/", u"*.*", true, true},
      {u"docs/", u"*.", true, true},
      {u"Папка/Файл.txt", u"ПАПКА/*.TXT", true, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Show(r.entry) + " / " + Show(r.mask));
    EXPECT_EQ(InMaskFolder(r.entry, r.mask), r.inFolder);
    EXPECT_EQ(EntryNameMatches(r.entry, r.mask), r.nameMatches);
  }
}

TEST(DrivePart, LettersAndUncNamesOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\dir\\file.txt", u"C:"},
      {u"c:file", u"c:"},
      {u"z:", u"z:"},
      {u"\\\\server\\share\\dir\\f", u"\\\\server\\share"},
      {u"\\\\server\\share", u"\\\\server\\share"},
      {u"\\\\сервер\\папка\\файл", u"\\\\сервер\\папка"},
      {u"\\\\srv中\\sh\\x", u"\\\\srv中\\sh"},  // a unit outside the ANSI page keeps its place
      {u"\\dir\\file", u""},
      {u"dir\\file", u""},
      {u"1:x", u""},
      {u"Ж:x", u""},
      {u"//server/share/x", u""},  // only backslashes make a UNC name
      {u"\\\\server", u""},
      {u"\\\\server\\", u""},
      {u"\\\\\\share", u""},
      {u"C", u""},
      {u"", u""},
  };
  for (const auto& [name, drive] : cases) {
    EXPECT_EQ(DrivePart(name), drive) << Show(name);
  }
}

}  // namespace
}  // namespace lumen
