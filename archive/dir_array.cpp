// Directory storage and its name index.
#include "archive/dir_array.h"

#include <algorithm>

#include "archive/za_exception.h"

namespace lumen {

namespace {

constexpr int32_t kIndexOutOfBoundsGet = 2;
constexpr int32_t kIndexOutOfBoundsAt = 3;
constexpr int32_t kHashedListInvalid = 59;

}  // namespace

void TZADirArray::SetCount(int32_t n) {
  if (n < 0) n = 0;
  if (n == 0) {
    // Swapping with an empty vector releases the storage, which clear() alone would keep.
    std::vector<TDirItem>().swap(items_);
    capacity_ = 0;
  } else if (n > capacity_) {
    // The capacity grows in whole steps, doubling up to a ceiling, so that a large directory
    // does not over-allocate by much.
    growStep_ = std::min(growStep_ * 2, kMaxGrowStep);
    const int64_t stepped = int64_t{capacity_} + growStep_;
    capacity_ = static_cast<int32_t>(stepped > n ? stepped : n);
  }
  // The items themselves follow the count: the vector grows geometrically, which keeps loading
  // linear, and a small archive does not pay for a thousand empty items. Items given up by a
  // smaller count are destroyed, so they come back empty if the count grows again.
  items_.resize(static_cast<size_t>(n));
  count_ = n;
}

TDirItem TZADirArray::GetItem(int32_t index) const {
  if (index < 0 || index >= count_) throw EZAException(kIndexOutOfBoundsGet);
  return items_[static_cast<size_t>(index)];
}

TDirItem& TZADirArray::ItemAt(int32_t index) {
  if (index < 0 || index >= count_) throw EZAException(kIndexOutOfBoundsAt);
  return items_[static_cast<size_t>(index)];
}

const TDirItem& TZADirArray::ItemAt(int32_t index) const {
  if (index < 0 || index >= count_) throw EZAException(kIndexOutOfBoundsAt);
  return items_[static_cast<size_t>(index)];
}

void TZADirArray::SetItemName(int32_t index, const std::u16string& newName) {
  TDirItem& item = ItemAt(index);
  const int32_t j = nameIndex_.IndexOf(LowerName(item.Name));
  if (j < 0) {
    nameIndex_.Add(LowerName(newName));
  } else if (j == index) {
    nameIndex_.Replace(index, LowerName(newName));
  } else {
    throw EZAException(kHashedListInvalid);
  }
  item.Name = newName;
}

bool TZADirArray::FindName(std::u16string_view name, int32_t& index) {
  index = nameIndex_.IndexOf(LowerName(name));
  return index >= 0;
}

void TZADirArray::Clear() {
  SetCount(0);
  nameIndex_.Clear();
}

}  // namespace lumen
