// Name and mask matching of the archiver's entry search: wildcard masks, the folder and name
// tests applied to directory entries, and the drive part that a searched name loses.
// Everything works on UTF-16 units; letter case is folded one unit at a time.
#pragma once

#include <string>
#include <string_view>

namespace lumen {

// "*" matches any run of characters, "?" any one; other characters compare case-insensitively.
// The pattern "*.*" matches every name. A run of two or more "*" at the end of the pattern needs
// at least one character to match, unlike a single trailing "*".
bool WildcardMatch(std::u16string_view name, std::u16string_view pattern);

// The file-mask rules on top of WildcardMatch: an empty mask matches nothing; the first "*.*" acts
// as "*"; a final "." of the mask or of the name is ignored, and a mask ending in "." accepts only
// names without an extension.
bool MatchesMask(std::u16string_view name, std::u16string_view mask);

// True when the text holds "*" or "?".
bool HasWildcards(std::u16string_view text) noexcept;

// The name with one trailing "\" or "/" removed.
std::u16string_view WithoutTrailingSeparator(std::u16string_view name) noexcept;

// The text after the last "\", "/" or ":" (the whole text when there is none).
std::u16string FileNamePart(std::u16string_view name);

// Folder of a stored entry name, in the form the folder test compares: one trailing "/" removed,
// "/" turned into "\", cut after the last "\" or ":" (empty when there is none), lower-cased.
std::u16string EntryFolder(std::u16string_view entryName);

// Folder of a search mask in the same form (no trailing separator is removed first).
std::u16string MaskFolder(std::u16string_view mask);

// Folder test of a non-recursive search: the entry lies directly in the mask's folder.
bool InMaskFolder(std::u16string_view entryName, std::u16string_view mask);

// Name test: the entry's name without one trailing separator, or else its file-name part,
// matches the mask.
bool EntryNameMatches(std::u16string_view entryName, std::u16string_view mask);

// The drive part of a name as the ANSI form shows it: a letter A-Z with its colon ("C:"), or the
// "\\server\share" part of a UNC name; empty when there is none. Returned in UTF-16, as the
// leading units of the name.
std::u16string DrivePart(std::u16string_view name);

}  // namespace lumen
