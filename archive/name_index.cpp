// The hashed name index. Chains hold the newest node first and a rebuild inserts in index order,
// so a string that occurs several times is always found at its highest index.
#include "archive/name_index.h"

#include <algorithm>
#include <stdexcept>

#include "platform/codepage.h"

namespace lumen {

namespace {

constexpr uint32_t kMinValueBuckets = 1000;
constexpr uint32_t kNameBuckets = 256;
constexpr uint64_t kMaxChainAverage = 5;

}  // namespace

std::u16string LowerName(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = LowerChar(c);
  return out;
}

TZAStringHash::TZAStringHash(uint32_t bucketCount) : buckets_(std::max<uint32_t>(bucketCount, 1)) {}

TZAStringHash::~TZAStringHash() {
  Clear();
}

uint32_t TZAStringHash::HashOf(std::u16string_view key) const {
  uint32_t h = 0;
  for (char16_t c : key) h = ((h << 2) | (h >> 30)) ^ c;
  return h;
}

std::unique_ptr<THashItem>& TZAStringHash::Bucket(std::u16string_view key) {
  return buckets_[HashOf(key) % BucketCount()];
}

const std::unique_ptr<THashItem>& TZAStringHash::Bucket(std::u16string_view key) const {
  return buckets_[HashOf(key) % BucketCount()];
}

void TZAStringHash::Insert(std::u16string key, int32_t value) {
  auto& head = Bucket(key);
  auto item = std::make_unique<THashItem>();
  item->Key = std::move(key);
  item->Value = value;
  item->Next = std::move(head);
  head = std::move(item);
}

const THashItem* TZAStringHash::Find(std::u16string_view key) const {
  for (const THashItem* p = Bucket(key).get(); p; p = p->Next.get()) {
    if (p->Key == key) return p;
  }
  return nullptr;
}

void TZAStringHash::Remove(std::u16string_view key) {
  for (std::unique_ptr<THashItem>* link = &Bucket(key); *link; link = &(*link)->Next) {
    if ((*link)->Key == key) {
      std::unique_ptr<THashItem> gone = std::move(*link);
      *link = std::move(gone->Next);
      return;
    }
  }
}

int32_t TZAStringHash::ValueOf(std::u16string_view key) const {
  const THashItem* p = Find(key);
  return p ? p->Value : -1;
}

void TZAStringHash::Clear() {
  // Chains are unlinked one node at a time: letting the nodes free each other recursively could
  // exhaust the stack on a long chain (thousands of equal names).
  for (auto& head : buckets_) {
    while (head) head = std::move(head->Next);
  }
}

size_t TZAStringHash::ChainLength(uint32_t bucket) const {
  size_t n = 0;
  for (const THashItem* p = buckets_.at(bucket).get(); p; p = p->Next.get()) ++n;
  return n;
}

std::u16string TZAHashedStringList::KeyOf(std::u16string_view s) const {
  return caseSensitive_ ? std::u16string(s) : LowerName(s);
}

void TZAHashedStringList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds");
}

const std::u16string& TZAHashedStringList::Strings(int32_t index) const {
  CheckIndex(index);
  return strings_[static_cast<size_t>(index)];
}

void TZAHashedStringList::Put(int32_t index, std::u16string s) {
  CheckIndex(index);
  strings_[static_cast<size_t>(index)] = std::move(s);
  valueHashValid_ = false;
  nameHashValid_ = false;
}

void TZAHashedStringList::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  valueHashValid_ = false;
  nameHashValid_ = false;
}

int32_t TZAHashedStringList::Add(std::u16string s) {
  const int32_t index = Count();
  if (valueHash_ && valueHashValid_) valueHash_->Insert(KeyOf(s), index);
  strings_.push_back(std::move(s));
  nameHashValid_ = false;
  if (valueHash_ && valueHashValid_ &&
      uint64_t{valueHash_->BucketCount()} * kMaxChainAverage < strings_.size()) {
    // Chains are getting long; the next lookup builds a table sized for the list as it is then.
    valueHash_.reset();
    valueHashValid_ = false;
  }
  return index;
}

int32_t TZAHashedStringList::IndexOf(std::u16string_view s) {
  if (!valueHash_) {
    valueHash_ = std::make_unique<TZAStringHash>(
        std::max<uint32_t>(static_cast<uint32_t>(strings_.size()), kMinValueBuckets));
    valueHashValid_ = false;
  }
  if (!valueHashValid_) {
    valueHash_->Clear();
    for (size_t i = 0; i < strings_.size(); ++i)
      valueHash_->Insert(KeyOf(strings_[i]), static_cast<int32_t>(i));
    valueHashValid_ = true;
  }
  return valueHash_->ValueOf(KeyOf(s));
}

void TZAHashedStringList::Replace(int32_t index, std::u16string s) {
  CheckIndex(index);
  auto& slot = strings_[static_cast<size_t>(index)];
  if (valueHash_ && valueHashValid_) {
    // Re-keying in place is right only when this index is the one the old key answers with and
    // no higher index holds the new key; otherwise a node of another string would be unlinked,
    // or the new node would shadow a higher one. Those cases rebuild at the next lookup instead.
    // Keys go through KeyOf on both sides, so a stored string that is not lower-cased, or a
    // case-sensitive list, keeps a table that matches its strings.
    const std::u16string oldKey = KeyOf(slot);
    const std::u16string newKey = KeyOf(s);
    if (oldKey != newKey) {
      if (valueHash_->ValueOf(oldKey) == index && valueHash_->ValueOf(newKey) < index) {
        valueHash_->Remove(oldKey);
        valueHash_->Insert(newKey, index);
      } else {
        valueHashValid_ = false;
      }
    }
  }
  slot = std::move(s);
  nameHashValid_ = false;
}

void TZAHashedStringList::Delete(int32_t index) {
  CheckIndex(index);
  strings_.erase(strings_.begin() + index);
  valueHashValid_ = false;
  nameHashValid_ = false;
}

void TZAHashedStringList::Clear() {
  strings_.clear();
  if (valueHash_) valueHash_->Clear();
  // The name table would otherwise still answer with lines that are gone.
  nameHashValid_ = false;
}

int32_t TZAHashedStringList::IndexOfName(std::u16string_view s) {
  if (!nameHashValid_) {
    if (!nameHash_) {
      nameHash_ = std::make_unique<TZAStringHash>(kNameBuckets);
    } else {
      nameHash_->Clear();
    }
    // Inserted last line first, so that the newest-first chains answer with the first line.
    for (size_t i = strings_.size(); i-- > 0;) {
      const std::u16string_view line = strings_[i];
      const auto eq = line.find(u'=');
      if (eq != std::u16string_view::npos)
        nameHash_->Insert(KeyOf(line.substr(0, eq)), static_cast<int32_t>(i));
    }
    nameHashValid_ = true;
  }
  return nameHash_->ValueOf(KeyOf(s));
}

}  // namespace lumen
