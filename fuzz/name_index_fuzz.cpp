// Fuzz target for the hashed name list: random sequences of list operations, each lookup checked
// against a plain vector that answers with the highest index of an equal key.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/name_index.h"

namespace {

using lumen::LowerName;
using lumen::TZAHashedStringList;

// Few distinct units so that equal and case-equal strings are common: ASCII and non-ASCII letters
// in both cases, a letter whose lower case is ASCII, a lone surrogate, and '=' for name=value
// lines.
constexpr char16_t kUnits[] = {u'a',   u'A',   u'b',   u'B',   u'i',   u'=',   u'.',  0x0434,
                               0x0414, 0x00E9, 0x00C9, 0x0130, 0xD800, 0x0401, 0x0451};
constexpr size_t kMaxStrings = 12000;

class TModel {
 public:
  std::vector<std::u16string> strings;
  std::vector<std::u16string> lowered;  // kept beside the strings: lookups scan the whole list
  bool caseSensitive = false;

  void Push(const std::u16string& s) {
    strings.push_back(s);
    lowered.push_back(LowerName(s));
  }
  void Set(size_t i, const std::u16string& s) {
    strings[i] = s;
    lowered[i] = LowerName(s);
  }
  void Erase(size_t i) {
    strings.erase(strings.begin() + static_cast<ptrdiff_t>(i));
    lowered.erase(lowered.begin() + static_cast<ptrdiff_t>(i));
  }
  void Clear() {
    strings.clear();
    lowered.clear();
  }
  std::u16string Key(std::u16string_view s) const {
    return caseSensitive ? std::u16string(s) : LowerName(s);
  }
  const std::u16string& StoredKey(size_t i) const {
    return caseSensitive ? strings[i] : lowered[i];
  }
  int32_t IndexOf(std::u16string_view s) const {
    const std::u16string key = Key(s);
    for (size_t i = strings.size(); i-- > 0;)
      if (StoredKey(i) == key) return static_cast<int32_t>(i);
    return -1;
  }
  int32_t IndexOfName(std::u16string_view s) const {
    const std::u16string key = Key(s);
    for (size_t i = 0; i < strings.size(); ++i) {
      const std::u16string_view line = strings[i];
      const size_t eq = line.find(u'=');
      if (eq != std::u16string_view::npos && Key(line.substr(0, eq)) == key)
        return static_cast<int32_t>(i);
    }
    return -1;
  }
};

[[noreturn]] void Fail(const char* what, int32_t got, int32_t expected) {
  std::fprintf(stderr, "name list disagrees with the model: %s gave %d, expected %d\n", what, got,
               expected);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "name list disagrees with the model: %s\n", what);
    std::abort();
  }
}

std::u16string TakeString(FuzzedDataProvider& in) {
  std::u16string s;
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, 6);
  for (size_t i = 0; i < length; ++i) s += in.PickValueInArray(kUnits);
  return s;
}

// Every string's lookup against the model, with one pass over the model to find each key's
// highest index.
void CheckAll(TZAHashedStringList& list, const TModel& model) {
  Check(list.Count() == static_cast<int32_t>(model.strings.size()), "Count");
  std::unordered_map<std::u16string, int32_t> highest;
  for (size_t i = 0; i < model.strings.size(); ++i) {
    Check(list.Strings(static_cast<int32_t>(i)) == model.strings[i], "Strings");
    highest[model.StoredKey(i)] = static_cast<int32_t>(i);
  }
  for (size_t i = 0; i < model.strings.size(); ++i) {
    const int32_t got = list.IndexOf(model.strings[i]);
    const int32_t expected = highest.at(model.StoredKey(i));
    if (got != expected) Fail("IndexOf of a stored string", got, expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  TZAHashedStringList list;
  TModel model;

  while (in.remaining_bytes() > 0) {
    const int32_t count = static_cast<int32_t>(model.strings.size());
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: {
        std::u16string s = TakeString(in);
        if (model.strings.size() >= kMaxStrings) break;
        const int32_t index = list.Add(s);
        if (index != count) Fail("Add", index, count);
        model.Push(s);
        break;
      }
      case 1: {
        // Many strings at once, so that the table crosses its five-per-bucket limit and is
        // rebuilt with more buckets; a few distinct values keep duplicates common.
        const bool crossesLimit = in.ConsumeIntegralInRange<int>(0, 7) == 7;
        const size_t n = crossesLimit ? in.ConsumeIntegralInRange<size_t>(5001, 6000)
                                      : in.ConsumeIntegralInRange<size_t>(1, 64);
        const std::u16string stem = TakeString(in);
        const uint32_t distinct = in.ConsumeIntegralInRange<uint32_t>(1, 4000);
        for (size_t k = 0; k < n && model.strings.size() < kMaxStrings; ++k) {
          std::u16string s = stem + std::u16string(1, static_cast<char16_t>(u'0' + k % distinct));
          list.Add(s);
          model.Push(s);
        }
        break;
      }
      case 2:
      case 3: {
        const std::u16string s = TakeString(in);
        const int32_t got = list.IndexOf(s);
        const int32_t expected = model.IndexOf(s);
        if (got != expected) Fail("IndexOf", got, expected);
        break;
      }
      case 4: {
        if (count == 0) break;
        const int32_t index = in.ConsumeIntegralInRange<int32_t>(0, count - 1);
        std::u16string s = TakeString(in);
        list.Replace(index, s);
        model.Set(static_cast<size_t>(index), s);
        break;
      }
      case 5: {
        if (count == 0) break;
        const int32_t index = in.ConsumeIntegralInRange<int32_t>(0, count - 1);
        std::u16string s = TakeString(in);
        list.Put(index, s);
        model.Set(static_cast<size_t>(index), s);
        break;
      }
      case 6: {
        if (count == 0) break;
        const int32_t index = in.ConsumeIntegralInRange<int32_t>(0, count - 1);
        list.Delete(index);
        model.Erase(static_cast<size_t>(index));
        break;
      }
      case 7:
        if (in.ConsumeIntegralInRange<int>(0, 3) != 0) break;  // rarer than the others
        list.Clear();
        model.Clear();
        break;
      case 8: {
        const bool value = in.ConsumeBool();
        list.SetCaseSensitive(value);
        model.caseSensitive = value;
        break;
      }
      case 9: {
        const std::u16string s = TakeString(in);
        const int32_t got = list.IndexOfName(s);
        const int32_t expected = model.IndexOfName(s);
        if (got != expected) Fail("IndexOfName", got, expected);
        break;
      }
    }
    // An index outside the list is refused, never read.
    bool refused = false;
    try {
      (void)list.Strings(static_cast<int32_t>(model.strings.size()));
    } catch (const std::out_of_range&) {
      refused = true;
    }
    Check(refused, "Strings past the end was not refused");
  }
  CheckAll(list, model);
  return 0;
}
