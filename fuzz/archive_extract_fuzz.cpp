// Fuzz target for the reader as the updater uses it: any bytes are opened as an archive and every
// entry is extracted, once with a fixed password and a password prompt that is cancelled, once
// with a password event that answers once per entry and then skips it. Only the archiver's and
// the platform's exceptions may come out; the output never outgrows an entry's declared size; the
// caller's stream is never changed; and the name index agrees with the loaded names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/dir_array.h"
#include "archive/dir_item.h"
#include "archive/dir_manager.h"
#include "archive/name_index.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/exceptions.h"
#include "platform/stream.h"
#include "platform/toolkit.h"

namespace {

using namespace lumen;

// Every entry of an archive decodes in full, so a directory of thousands of entries that all
// point at one large piece of data would spend the whole run on a single input; the updater itself
// extracts one entry.
constexpr size_t kMaxEntries = 64;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "archive reader: %s\n", what);
    std::abort();
  }
}

// The user who is asked for a password and closes the prompt.
class TCancellingToolkit : public IToolkit {
 public:
  std::unique_ptr<IWindow> CreateForm(const TFormSpec&, IFormEvents&) override {
    Check(false, "the reader tried to create a window");
    return nullptr;
  }
  void Run() override {}
  bool PasswordPrompt(const std::string&, const std::string&, std::string&) override {
    ++prompts;
    return false;
  }
  int prompts = 0;
};

struct TEntry {
  std::u16string name;
  std::u16string key;  // lower-cased
  uint64_t declaredSize = 0;
};

// Names and declared sizes of the loaded directory, after checking that the name index mirrors
// the names and that a lookup gives the highest index of an equal name.
std::vector<TEntry> LoadedEntries(TZipArchiver& archiver) {
  std::vector<TEntry> entries;
  TZADirManager* manager = archiver.DirManager();
  if (manager == nullptr) return entries;
  TZADirArray& directory = manager->Directory();
  const int32_t count = directory.Count();
  Check(directory.NameIndex().Count() == count, "the name index has another length");
  for (int32_t i = 0; i < count; ++i) {
    const TDirItem& item = directory.ItemAt(i);
    std::u16string key = LowerName(item.Name);
    Check(directory.NameIndex().Strings(i) == key,
          "the name index does not hold an entry's lower-cased name");
    int32_t found = -1;
    Check(directory.FindName(item.Name, found), "an entry is not found by its own name");
    Check(found >= i && LowerName(directory.ItemAt(found).Name) == key,
          "a name lookup gave another name or a lower duplicate");
    entries.push_back({item.Name, std::move(key), item.UncompressedSizeValue()});
  }
  return entries;
}

void ExtractAll(TZipArchiver& archiver, TMemoryStream& archive) {
  try {
    archiver.OpenFromStream(archive);
  } catch (const Exception&) {
    archiver.CloseCurrent();
    return;
  }
  const std::vector<TEntry> entries = LoadedEntries(archiver);
  for (size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    // Equal names extract the last of them, so the bound is the largest size among equal names.
    uint64_t bound = 0;
    for (const TEntry& other : entries)
      if (other.declaredSize > bound && other.key == entries[i].key) bound = other.declaredSize;
    TMemoryStream output;
    try {
      archiver.ExtractEntryTo(entries[i].name, output);
    } catch (const Exception&) {
      // EZAException and the platform's stream failures are the reader's way of saying no.
    }
    Check(static_cast<uint64_t>(output.Size()) <= bound,
          "an extraction wrote more than the entry declares");
  }
  archiver.CloseCurrent();
  Check(!archiver.IsOpen(), "the archive is still open after closing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream archive;
  if (size > 0) archive.Write(data, static_cast<int64_t>(size));
  archive.Seek(0, TSeekOrigin::soBeginning);

  {
    TCancellingToolkit toolkit;
    SetCurrentToolkit(&toolkit);
    TZipArchiver archiver;
    archiver.SetName("ZipArchiver1");
    archiver.SetPassword("secret");
    ExtractAll(archiver, archive);
    SetCurrentToolkit(nullptr);
  }
  {
    TZipArchiver archiver;
    archiver.SetName("ZipArchiver1");
    std::u16string lastAsked;
    archiver.OnPassword = [&lastAsked](TZABaseArchiver&, const std::u16string& fileName,
                                       std::string& password, bool& skipFile) {
      // One answer per entry, then the user gives up: a wrong answer cannot loop for ever.
      if (fileName == lastAsked) {
        skipFile = true;
        return;
      }
      lastAsked = fileName;
      password = "secret";
      skipFile = false;
    };
    ExtractAll(archiver, archive);
  }

  Check(archive.Size() == static_cast<int64_t>(size) &&
            (size == 0 || std::memcmp(archive.Memory(), data, size) == 0),
        "the reader changed the caller's stream");
  return 0;
}
