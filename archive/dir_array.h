// The loaded directory: the entries in directory order and the hashed index of their lower-cased
// names, kept in step so that a name lookup never scans the entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/dir_item.h"
#include "archive/name_index.h"

namespace lumen {

// Invariant: for every index i below Count(), string i of NameIndex() is LowerName of item i's
// Name. Failures raise EZAException without an archiver: code 2 (GetItem) or 3 (ItemAt) for an
// index outside the directory, 59 when a name cannot be indexed in its entry's place.
class TZADirArray {
 public:
  static constexpr int32_t kInitialGrowStep = 500;
  static constexpr int32_t kMaxGrowStep = 10000;

  TZADirArray() = default;
  TZADirArray(const TZADirArray&) = delete;
  TZADirArray& operator=(const TZADirArray&) = delete;

  int32_t Count() const noexcept { return count_; }
  int32_t Capacity() const noexcept { return capacity_; }
  int32_t GrowStep() const noexcept { return growStep_; }

  // Sets the number of valid items. The capacity grows in steps (doubling up to kMaxGrowStep);
  // new items start empty. Items given up by a smaller count are emptied; 0 releases all storage.
  // The name index is left alone: a caller that shrinks the directory rebuilds it or uses Clear.
  void SetCount(int32_t n);

  TDirItem GetItem(int32_t index) const;
  TDirItem& ItemAt(int32_t index);
  const TDirItem& ItemAt(int32_t index) const;

  // Renames item index and re-keys it in the name index. Items are named in index order while
  // loading; a name whose previous form is indexed elsewhere (two empty names) raises 59.
  void SetItemName(int32_t index, const std::u16string& newName);

  // Case-insensitive; of several entries with the same name, the last one in the directory.
  bool FindName(std::u16string_view name, int32_t& index);

  // Empties the directory and the name index.
  void Clear();

  TZAHashedStringList& NameIndex() noexcept { return nameIndex_; }

 private:
  std::vector<TDirItem> items_;  // its size is the count
  TZAHashedStringList nameIndex_;
  int32_t growStep_ = kInitialGrowStep;
  int32_t capacity_ = 0;
  int32_t count_ = 0;
};

}  // namespace lumen
