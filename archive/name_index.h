// The case-insensitive name index of the archive directory: LowerName, a chained hash table from
// UTF-16 strings to list indexes, and the string list that keeps such a table beside its strings.
// Lookups hash the key and walk one chain; they never scan the list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumen {

// Every UTF-16 unit lower-cased on its own through the platform's mapping; the length never
// changes.
std::u16string LowerName(std::u16string_view s);

struct THashItem {
  std::unique_ptr<THashItem> Next;
  std::u16string Key;
  int32_t Value = 0;
};

// Chained hash table. Keys are compared exactly; a key may be inserted several times, and the most
// recent insertion shadows the older ones until it is removed.
class TZAStringHash {
 public:
  // The bucket count is fixed for the table's life (at least 1).
  explicit TZAStringHash(uint32_t bucketCount);
  TZAStringHash(const TZAStringHash&) = delete;
  TZAStringHash& operator=(const TZAStringHash&) = delete;
  virtual ~TZAStringHash();

  // Each unit in turn: rotate the 32-bit value left by 2, then xor the unit in.
  virtual uint32_t HashOf(std::u16string_view key) const;

  void Insert(std::u16string key, int32_t value);
  // The newest node with exactly this key, or nullptr.
  const THashItem* Find(std::u16string_view key) const;
  // Removes the node Find would give, if any.
  void Remove(std::u16string_view key);
  // The value of the node Find would give, or -1.
  int32_t ValueOf(std::u16string_view key) const;
  void Clear();

  uint32_t BucketCount() const noexcept { return static_cast<uint32_t>(buckets_.size()); }
  // Nodes in one bucket's chain, for inspecting the table's shape.
  size_t ChainLength(uint32_t bucket) const;

 private:
  std::unique_ptr<THashItem>& Bucket(std::u16string_view key);
  const std::unique_ptr<THashItem>& Bucket(std::u16string_view key) const;

  std::vector<std::unique_ptr<THashItem>> buckets_;
};

// An unsorted list of UTF-16 strings with a hashed index from whole strings to their positions
// (case-insensitive unless CaseSensitive), and a second one from the name part of name=value lines.
// The index is built by the first lookup, kept current by Add, and rebuilt with more buckets once
// the strings outnumber five per bucket. Where a string occurs several times, lookups give its
// highest index.
class TZAHashedStringList {
 public:
  TZAHashedStringList() = default;
  TZAHashedStringList(const TZAHashedStringList&) = delete;
  TZAHashedStringList& operator=(const TZAHashedStringList&) = delete;

  int32_t Count() const noexcept { return static_cast<int32_t>(strings_.size()); }
  // Raise std::out_of_range for an index outside the list.
  const std::u16string& Strings(int32_t index) const;
  void Put(int32_t index, std::u16string s);

  bool CaseSensitive() const noexcept { return caseSensitive_; }
  void SetCaseSensitive(bool value);

  // Appends s and returns its index.
  int32_t Add(std::u16string s);
  // Index of s, or -1.
  int32_t IndexOf(std::u16string_view s);
  // Puts s at index and keeps the index exact: lookups afterwards give what a fresh build would,
  // whatever the case of the stored strings and whatever duplicates the list holds.
  void Replace(int32_t index, std::u16string s);
  void Delete(int32_t index);
  void Clear();
  // Index of the first line whose text before its first '=' is s, or -1.
  int32_t IndexOfName(std::u16string_view s);

  const TZAStringHash* ValueHash() const noexcept { return valueHash_.get(); }
  bool ValueHashValid() const noexcept { return valueHashValid_; }

 private:
  std::u16string KeyOf(std::u16string_view s) const;
  void CheckIndex(int32_t index) const;

  std::vector<std::u16string> strings_;
  bool caseSensitive_ = false;
  std::unique_ptr<TZAStringHash> valueHash_;
  std::unique_ptr<TZAStringHash> nameHash_;
  bool valueHashValid_ = true;
  bool nameHashValid_ = false;
};

}  // namespace lumen
