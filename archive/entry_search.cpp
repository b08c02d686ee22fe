// Finding an entry for extraction: the exact lookup of a name, then the search by name or mask,
// and the component-level frame of ExtractEntryTo around them.
#include <cstdint>
#include <string>

#include "archive/dir_manager.h"
#include "archive/name_match.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"

namespace lumen {

namespace {

// The attribute filter of an extraction lookup: it lets every kind of entry through.
constexpr uint32_t kExtractSearchAttributes = 0x28BF;
// Attribute bits the filter can exclude: hidden, system, volume label, directory.
constexpr uint32_t kFilterableAttributes = 0x1E;

// Puts Options.Recurse back however the extraction ends.
class RecurseRestorer {
 public:
  explicit RecurseRestorer(TZAOptions& options) : options_(options), saved_(options.Recurse()) {}
  RecurseRestorer(const RecurseRestorer&) = delete;
  RecurseRestorer& operator=(const RecurseRestorer&) = delete;
  ~RecurseRestorer() { options_.SetRecurse(saved_); }

 private:
  TZAOptions& options_;
  bool saved_;
};

void FillItem(const TDirItem& entry, TZAArchiveItem& item) {
  const std::u16string_view name = WithoutTrailingSeparator(entry.Name);
  item.FileName = FileNamePart(name);
  item.StoredPath = std::u16string(entry.Name.substr(0, name.size() - item.FileName.size()));
  item.CompressedSize = static_cast<int64_t>(entry.CompressedSizeValue());
  item.UncompressedSize = static_cast<int64_t>(entry.UncompressedSizeValue());
  item.CompressionRate = item.UncompressedSize > 0
                             ? 100.0 * (1.0 - static_cast<double>(item.CompressedSize) /
                                                  static_cast<double>(item.UncompressedSize))
                             : 0.0;
  item.Encrypted = entry.IsEncrypted();
  item.LastModFileTime = entry.ModTime;
  item.LastModFileDate = entry.ModDate;
  item.CRC = entry.Crc32;
  item.ExternalFileAttributes = entry.ExternalAttributes;
  item.Comment = entry.Comment;
}

}  // namespace

void TZABaseArchiver::ExtractEntryTo(const std::u16string& name, TStream& output) {
  if (!isOpen_) throw EZAException(13, this);
  if (updateDepth_ > 0) throw EZAException(26, this);
  // A lookup by name must not descend into folders, whatever the batch operations prefer.
  RecurseRestorer recurse(options_);
  options_.SetRecurse(false);
  filesDone_ = 0;
  progressEnabled_ = true;

  NotifyOverallProgress(poExtract, ppStart, 0, cancelled_);
  int32_t index = -1;
  if (!FindEntry(name, index)) throw EZAException(15, {name}, this);
  filesToProcess_ = 1;
  ExtractItem(index, output);

  const std::u16string diskFileName = dirManager_->Directory().ItemAt(index).DiskFileName;
  NotifyFileProgress(diskFileName, poExtract, 100, ppEnd, cancelled_);
  NotifyOverallProgress(poExtract, ppEnd, 100, cancelled_);
}

bool TZABaseArchiver::FindEntry(const std::u16string& name, int32_t& index) {
  index = -1;
  if (dirManager_->Directory().FindName(name, index)) return true;
  TZAArchiveItem item;
  if (!FindFirstMatch(name, item, std::u16string(), kExtractSearchAttributes)) return false;
  index = item.Handle.ItemIndex;
  return true;
}

bool TZABaseArchiver::FindFirstMatch(const std::u16string& name, TZAArchiveItem& item,
                                     const std::u16string& exclusionMask, uint32_t attributes) {
  std::u16string text = name;
  // Stored names carry no drive unless they were stored with one.
  if (options_.StorePath() != spFullPathWithDrive) text.erase(0, DrivePart(text).size());
  for (char16_t& c : text) {
    if (c == u'\\') c = u'/';
  }
  TInternalSearchRec& search = item.Handle;
  search.HasWildcards = HasWildcards(text);
  search.Mask = std::move(text);
  search.SearchAttributes = attributes;
  search.ExclusionMask = exclusionMask;
  search.UseMaskLists = false;
  search.ItemIndex = 0;
  return SearchDirectory(item);
}

bool TZABaseArchiver::SearchDirectory(TZAArchiveItem& item) {
  TInternalSearchRec& search = item.Handle;
  TZADirArray& directory = dirManager_->Directory();
  if (!search.HasWildcards && !options_.Recurse()) {
    // A plain name outside a recursive search can only be that one entry.
    int32_t found = -1;
    if (!directory.FindName(search.Mask, found) || found < search.ItemIndex) return false;
    search.ItemIndex = found;
    FillItem(directory.ItemAt(found), item);
    return true;
  }
  for (int32_t i = search.ItemIndex < 0 ? 0 : search.ItemIndex; i < directory.Count(); ++i) {
    const TDirItem& entry = directory.ItemAt(i);
    if (!options_.Recurse() && !InMaskFolder(entry.Name, search.Mask)) {
      continue;
    }
    if (!MatchesSearch(entry, search)) continue;
    if ((entry.ExternalAttributes & kFilterableAttributes & ~search.SearchAttributes) != 0) {
      continue;
    }
    search.ItemIndex = i;
    FillItem(entry, item);
    return true;
  }
  return false;
}

bool TZABaseArchiver::MatchesSearch(const TDirItem& entry, const TInternalSearchRec& search) const {
  const std::u16string_view name = WithoutTrailingSeparator(entry.Name);
  if (!search.UseMaskLists) {
    return EntryNameMatches(entry.Name, search.Mask) && !MatchesMask(name, search.ExclusionMask);
  }
  bool included = false;
  for (const std::u16string& mask : fileMasks_) {
    if (EntryNameMatches(entry.Name, mask)) {
      included = true;
      break;
    }
  }
  if (!included) return false;
  for (const std::u16string& mask : exclusionMasks_) {
    if (EntryNameMatches(entry.Name, mask)) return false;
  }
  return true;
}

}  // namespace lumen
