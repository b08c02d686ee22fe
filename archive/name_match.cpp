// Wildcard and mask matching for the archiver's search. The matcher is the iterative two-pointer
// form (backtracking only to the last "*"), so hostile masks cost O(name x pattern) instead of the
// exponential time of trying every split recursively.
#include "archive/name_match.h"

#include "platform/codepage.h"

namespace lumen {

namespace {

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = UpperChar(c);
  return out;
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) c = LowerChar(c);
  return text;
}

bool EndsWithDot(std::u16string_view text) {
  return !text.empty() && text.back() == u'.';
}

// Extension as the platform's path functions see it: from the last "." that follows the last
// "\" or ":"; "/" is not a separator here.
std::u16string_view Extension(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return {};
  const size_t sep = name.find_last_of(u"\\:");
  if (sep != std::u16string_view::npos && sep > dot) return {};
  return name.substr(dot);
}

std::u16string FolderOf(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
  }
  const size_t sep = text.find_last_of(u"\\:");
  text.resize(sep == std::u16string::npos ? 0 : sep + 1);
  return Lower(std::move(text));
}

}  // namespace

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
  if (pattern == u"*.*") return true;

  // A "*" that is not the whole rest of the pattern is tried against non-empty rests of the name
  // only. That matters solely for a trailing run of two or more "*", which therefore needs one
  // character at least; spelled as "?*" it leaves ordinary wildcard semantics everywhere.
  std::u16string pat = Upper(pattern);
  size_t stars = 0;
  while (stars < pat.size() && pat[pat.size() - 1 - stars] == u'*') ++stars;
  if (stars >= 2) {
    pat.resize(pat.size() - stars);
    pat += u"?*";
  }
  const std::u16string str = Upper(name);

  size_t p = 0;
  size_t n = 0;
  size_t starP = std::u16string::npos;
  size_t starN = 0;
  while (n < str.size()) {
    if (p < pat.size() && pat[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == u'?' || pat[p] == str[n])) {
      ++p;
      ++n;
    } else if (starP != std::u16string::npos) {
      // Let the last "*" swallow one more character and retry; earlier "*" never need to move,
      // because whatever they could take the last one can take too.
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == u'*') ++p;
  return p == pat.size();
}

bool MatchesMask(std::u16string_view name, std::u16string_view mask) {
  if (mask.empty()) return false;
  std::u16string m;
  if (const size_t at = mask.find(u"*.*"); at != std::u16string_view::npos) {
    m.append(mask.substr(0, at)).append(u"*").append(mask.substr(at + 3));
  } else {
    m = mask;
  }
  if (EndsWithDot(m)) m.pop_back();
  std::u16string_view n = name;
  if (EndsWithDot(n)) n.remove_suffix(1);
  if (!WildcardMatch(n, m)) return false;
  if (!EndsWithDot(mask)) return true;
  // "name." asks for names without an extension; a lone "." left over from a name that ended
  // in ".." still counts as none.
  const std::u16string_view ext = Extension(n);
  return ext.empty() || ext == u".";
}

bool HasWildcards(std::u16string_view text) noexcept {
  return text.find_first_of(u"*?") != std::u16string_view::npos;
}

std::u16string_view WithoutTrailingSeparator(std::u16string_view name) noexcept {
  if (!name.empty() && (name.back() == u'/' || name.back() == u'\\')) name.remove_suffix(1);
  return name;
}

std::u16string FileNamePart(std::u16string_view name) {
  const size_t sep = name.find_last_of(u"\\/:");
  return std::u16string(sep == std::u16string_view::npos ? name : name.substr(sep + 1));
}

std::u16string EntryFolder(std::u16string_view entryName) {
  if (!entryName.empty() && entryName.back() == u'/') entryName.remove_suffix(1);
  return FolderOf(std::u16string(entryName));
}

std::u16string MaskFolder(std::u16string_view mask) {
  return FolderOf(std::u16string(mask));
}

bool InMaskFolder(std::u16string_view entryName, std::u16string_view mask) {
  return EntryFolder(entryName) == MaskFolder(mask);
}

bool EntryNameMatches(std::u16string_view entryName, std::u16string_view mask) {
  const std::u16string_view name = WithoutTrailingSeparator(entryName);
  return MatchesMask(name, mask) || MatchesMask(FileNamePart(name), mask);
}

std::u16string DrivePart(std::u16string_view name) {
  // The ANSI form has one byte per UTF-16 unit, so a length found there is a length in units.
  const std::string ansi = WideToAnsi(name);
  size_t length = 0;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (ansi.size() >= 2 && ansi[1] == ':' && isLetter(ansi[0])) {
    length = 2;
  } else if (ansi.size() >= 2 && ansi[0] == '\\' && ansi[1] == '\\') {
    // "\\server\share": both parts must be present to make a drive.
    const size_t serverEnd = ansi.find('\\', 2);
    if (serverEnd != std::string::npos && serverEnd > 2 && serverEnd + 1 < ansi.size() &&
        ansi[serverEnd + 1] != '\\') {
      const size_t shareEnd = ansi.find('\\', serverEnd + 1);
      length = shareEnd == std::string::npos ? ansi.size() : shareEnd;
    }
  }
  return std::u16string(name.substr(0, length));
}

}  // namespace lumen
