// The hashed name index: the hash function's values, newest-first chains, duplicates found at
// their highest index, the drop-and-rebuild as the list grows, and case-insensitive lookups.
#include "archive/name_index.h"

#include <gtest/gtest.h>

#include <string>

namespace lumen {
namespace {

TEST(StringHash, HashValuesAndBucket) {
  TZAStringHash h(1000);
  EXPECT_EQ(h.HashOf(u""), 0u);
  EXPECT_EQ(h.HashOf(u"a"), 0x61u);
  EXPECT_EQ(h.HashOf(u"ab"), 0x1E6u);
  EXPECT_EQ(h.HashOf(u"readme.txt"), 0x01B2DC54u);
  h.Insert(u"readme.txt", 5);
  EXPECT_EQ(h.ChainLength(28), 1u);
  // Long keys: the bits rotated out at the top come back at the bottom instead of being lost.
  EXPECT_EQ(h.HashOf(u"abcdefghijklmnopqrst\u0416"), 0x24F1A12Du);
}

TEST(StringHash, NewestNodeShadowsAndRemoveUncoversOlder) {
  TZAStringHash h(7);
  EXPECT_EQ(h.ValueOf(u"x"), -1);
  EXPECT_EQ(h.Find(u"x"), nullptr);
  h.Insert(u"x", 1);
  h.Insert(u"X", 9);  // exact keys: a different key
  h.Insert(u"x", 2);
  EXPECT_EQ(h.ValueOf(u"x"), 2);
  EXPECT_EQ(h.ValueOf(u"X"), 9);
  h.Remove(u"x");
  EXPECT_EQ(h.ValueOf(u"x"), 1);
  h.Remove(u"x");
  EXPECT_EQ(h.ValueOf(u"x"), -1);
  h.Remove(u"x");  // nothing left: no effect
  h.Clear();
  EXPECT_EQ(h.ValueOf(u"X"), -1);
  EXPECT_EQ(h.BucketCount(), 7u);
}

TEST(StringHash, LongChainsClearWithoutRecursion) {
  TZAStringHash h(1);
  for (int i = 0; i < 300000; ++i) h.Insert(u"same", i);
  EXPECT_EQ(h.ValueOf(u"same"), 299999);
  EXPECT_EQ(h.ChainLength(0), 300000u);
  h.Clear();
  EXPECT_EQ(h.ChainLength(0), 0u);
}

TEST(HashedStringList, EmptyListLookupBuildsAThousandEmptyBuckets) {
  TZAHashedStringList l;
  EXPECT_EQ(l.ValueHash(), nullptr);
  EXPECT_EQ(l.IndexOf(u"anything"), -1);
  ASSERT_NE(l.ValueHash(), nullptr);
  EXPECT_EQ(l.ValueHash()->BucketCount(), 1000u);
  for (uint32_t b = 0; b < 1000; ++b) ASSERT_EQ(l.ValueHash()->ChainLength(b), 0u);
}

TEST(HashedStringList, DuplicatesAreFoundAtTheirHighestIndexBeforeAndAfterRebuild) {
  TZAHashedStringList l;
  EXPECT_EQ(l.Add(u"x"), 0);
  EXPECT_EQ(l.IndexOf(u"x"), 0);  // builds the table; the adds below keep it current
  EXPECT_EQ(l.Add(u"y"), 1);
  EXPECT_EQ(l.Add(u"x"), 2);
  EXPECT_EQ(l.IndexOf(u"x"), 2);
  EXPECT_EQ(l.IndexOf(u"y"), 1);
  l.Delete(2);  // invalidates; the next lookup rebuilds in index order
  EXPECT_FALSE(l.ValueHashValid());
  EXPECT_EQ(l.IndexOf(u"x"), 0);
  l.Add(u"x");
  l.Add(u"x");
  l.Delete(0);  // strings now y, x, x
  EXPECT_EQ(l.IndexOf(u"x"), 2);
  EXPECT_EQ(l.IndexOf(u"y"), 0);
}

TEST(HashedStringList, TableIsDroppedPastFivePerBucketAndRebuiltLarger) {
  TZAHashedStringList l;
  EXPECT_EQ(l.IndexOf(u"none"), -1);
  for (int i = 0; i < 5000; ++i)
    l.Add(u"name" + std::u16string(1, char16_t(0x400 + i % 64)) +
          std::u16string(1, char16_t(u'0' + i / 64 % 10)) +
          std::u16string(1, char16_t(0x4E00 + i)));
  ASSERT_NE(l.ValueHash(), nullptr);
  EXPECT_EQ(l.ValueHash()->BucketCount(), 1000u);
  EXPECT_TRUE(l.ValueHashValid());
  l.Add(u"last");  // the 5,001st string
  EXPECT_EQ(l.ValueHash(), nullptr);
  EXPECT_FALSE(l.ValueHashValid());
  EXPECT_EQ(l.IndexOf(u"last"), 5000);
  ASSERT_NE(l.ValueHash(), nullptr);
  EXPECT_EQ(l.ValueHash()->BucketCount(), 5001u);
  for (int i = 0; i < 5001; ++i) ASSERT_EQ(l.IndexOf(l.Strings(i)), i) << i;
}

TEST(HashedStringList, CaseInsensitiveUnlessAskedAndClearEmpties) {
  TZAHashedStringList l;
  l.Add(u"docs/readme.txt");
  l.Add(u"readme.txt");
  l.Add(u"\u043f\u0440\u0438\u0432\u0435\u0442.txt");
  EXPECT_EQ(l.IndexOf(u"README.TXT"), 1);
  EXPECT_EQ(l.IndexOf(u"Docs/ReadMe.Txt"), 0);
  EXPECT_EQ(l.IndexOf(u"\u041f\u0420\u0418\u0412\u0415\u0422.TXT"), 2);  // not ASCII-only folding
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf(u"README.TXT"), -1);
  EXPECT_EQ(l.IndexOf(u"readme.txt"), 1);
  l.SetCaseSensitive(false);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.IndexOf(u"readme.txt"), -1);
  EXPECT_EQ(l.IndexOf(u""), -1);
}

TEST(HashedStringList, ReplaceRekeysTheEntry) {
  TZAHashedStringList l;
  l.Add(u"");
  EXPECT_EQ(l.IndexOf(u""), 0);
  l.Replace(0, u"setup.exe");
  EXPECT_EQ(l.Strings(0), u"setup.exe");
  EXPECT_EQ(l.IndexOf(u""), -1);
  EXPECT_EQ(l.IndexOf(u"SETUP.EXE"), 0);
  EXPECT_THROW(l.Replace(1, u"x"), std::out_of_range);
}

TEST(HashedStringList, IndexOfNameLooksAtTheTextBeforeTheEqualsSign) {
  TZAHashedStringList l;
  l.Add(u"Path=C:\\a");
  l.Add(u"plain");
  l.Add(u"path=D:\\b");
  l.Add(u"=empty");
  EXPECT_EQ(l.IndexOfName(u"PATH"), 0);
  EXPECT_EQ(l.IndexOfName(u"plain"), -1);
  EXPECT_EQ(l.IndexOfName(u""), 3);
  l.Delete(0);
  EXPECT_EQ(l.IndexOfName(u"path"), 1);
  l.Clear();
  EXPECT_EQ(l.IndexOfName(u"path"), -1);
}

}  // namespace
}  // namespace lumen
