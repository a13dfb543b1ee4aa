#include "name_twins.h"

#include <unordered_map>

#include "cp932.h"
#include "cp932_convert.h"
#include "name_forms.h"
#include "platform.h"

// A folder's names, with each folded form that a stored name is compared by, so that a
// folder of thousands of garbled names is searched by lookups, not once per entry.
struct NameTwinSearch::Listing {
  std::vector<std::string> names;
  std::unordered_map<std::string, size_t> exact, decomposed, twins, folded;
  std::unordered_map<size_t, std::vector<size_t>> byLength;

  explicit Listing(std::vector<std::string> all) : names(std::move(all)) {
    for (size_t i = 0; i < names.size(); ++i) {
      // emplace keeps the first of several names with the same key: the listing's order.
      exact.emplace(names[i], i);
      decomposed.emplace(Decomposed(names[i]), i);
      twins.emplace(TwinsFolded(names[i]), i);
      folded.emplace(CaseFolded(names[i]), i);
      byLength[names[i].size()].push_back(i);
    }
  }

  bool Lookup(const std::unordered_map<std::string, size_t>& map, const std::string& key,
              std::string* found) const {
    auto it = map.find(key);
    if (it == map.end()) return false;
    *found = names[it->second];
    return true;
  }

  bool LookupWithLost(const std::string& pattern, std::string* found) const {
    auto it = byLength.find(pattern.size());
    if (it == byLength.end()) return false;
    for (size_t i : it->second) {
      if (MatchesWithLost(pattern, names[i])) {
        *found = names[i];
        return true;
      }
    }
    return false;
  }
};

NameTwinSearch::NameTwinSearch(FolderNames& names, const std::string& base)
    : names_(names), base_(base) {}

NameTwinSearch::~NameTwinSearch() = default;

const NameTwinSearch::Listing* NameTwinSearch::ListingOf(const std::string& folder) {
  auto it = listings_.find(folder);
  if (it != listings_.end()) return it->second.get();
  std::vector<std::string> names;
  std::unique_ptr<Listing> listing;
  if (names_.List(folder, &names)) listing.reset(new Listing(std::move(names)));
  return (listings_[folder] = std::move(listing)).get();
}

bool NameTwinSearch::Match(const Listing& listing, const std::string& name, std::string* found,
                           NameForm* form) {
  std::string own;
  if (!Cp932ToUtf8(name, &own)) own = name;  // a damaged stored name can still be there as bytes
  const SingleByteCodePage pages[] = {kCodePage437, kCodePage850, kCodePage1252};
  const NameForm pageForms[][2] = {{kFormCp437, kFormCp437Latin1},
                                   {kFormCp850, kFormCp850Latin1},
                                   {kFormCp1252, kFormCp1252Latin1}};
  *form = kFormOwn;
  if (listing.Lookup(listing.exact, own, found)) return true;
  *form = kFormCp932Bytes;
  if (listing.Lookup(listing.exact, name, found)) return true;
  for (int i = 0; i < 3; ++i) {
    *form = pageForms[i][0];
    if (listing.Lookup(listing.exact, ReadAsCodePage(name, pages[i]), found)) return true;
    *form = pageForms[i][1];
    if (listing.LookupWithLost(ReadAsCodePageLatin1(name, pages[i]), found)) return true;
  }
  *form = kFormDecomposed;
  if (listing.Lookup(listing.decomposed, Decomposed(own), found)) return true;
  *form = kFormTwinCharacter;
  if (listing.Lookup(listing.twins, TwinsFolded(own), found)) return true;
  *form = kFormLetterCase;
  return listing.Lookup(listing.folded, CaseFolded(own), found);
}

namespace {

// The length of the folder part of a stored path (up to and including its last separator
// before `end`); the second byte of a double-byte character is no separator.
size_t ParentLength(const std::string& path, size_t end) {
  size_t parent = 0;
  for (size_t i = 0; i < end; ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(path[i])) && i + 1 < end) {
      ++i;
    } else if (path[i] == '\\' || path[i] == '/') {
      parent = i + 1;
    }
  }
  return parent;
}

}  // namespace

const NameTwinSearch::Place& NameTwinSearch::FolderPlace(const std::string& prefix) {
  auto it = places_.find(prefix);
  if (it != places_.end()) return it->second;
  Place place;
  if (prefix.empty()) {
    place.found = true;
    place.finding.path = base_;
  } else {
    size_t parentLength = ParentLength(prefix, prefix.size() - 1);
    // Copied: the map may move its elements while the parent's parents are found.
    Place parent = FolderPlace(prefix.substr(0, parentLength));
    const Listing* listing = parent.found ? ListingOf(parent.finding.path) : nullptr;
    std::string name = prefix.substr(parentLength, prefix.size() - 1 - parentLength);
    std::string found;
    NameForm form;
    if (listing != nullptr && Match(*listing, name, &found, &form)) {
      place.found = true;
      place.finding.form = parent.finding.form != kFormOwn ? parent.finding.form : form;
      place.finding.path = names_.Join(parent.finding.path, found, true);
      place.finding.diskName = parent.finding.diskName + found + "/";
    }
  }
  return places_[prefix] = place;
}

bool NameTwinSearch::Find(const char* storedPath, NameFinding* finding) {
  std::string path = storedPath;
  // A path stored in UTF-8 (enclosed, checkfile.h) has none of the code-page-932 garblings.
  if (path.find(kForeignNameBegin) != std::string::npos) return false;
  bool isFolder = !path.empty() && ParentLength(path, path.size()) == path.size();
  size_t end = isFolder ? path.size() - 1 : path.size();
  size_t parentLength = ParentLength(path, end);
  Place parent = FolderPlace(path.substr(0, parentLength));
  if (!parent.found) return false;
  const Listing* listing = ListingOf(parent.finding.path);
  std::string found;
  NameForm form;
  if (listing == nullptr ||
      !Match(*listing, path.substr(parentLength, end - parentLength), &found, &form)) {
    return false;
  }
  finding->form = parent.finding.form != kFormOwn ? parent.finding.form : form;
  // Under its own name all the way: it is there, but not as what it is listed as (a file in
  // a folder's place, a folder in a file's), and no other form changes that.
  if (finding->form == kFormOwn) return false;
  finding->path = names_.Join(parent.finding.path, found, isFolder);
  finding->diskName = parent.finding.diskName + found + (isFolder ? "/" : "");
  return true;
}

const char* NameFormId(NameForm form) {
  static const char* const ids[kNameFormCount] = {
      "own",    "cp932-bytes",   "cp437",      "cp437-latin1",   "cp850",      "cp850-latin1",
      "cp1252", "cp1252-latin1", "decomposed", "twin-character", "letter-case"};
  return ids[form];
}

const char* NameFormCause(NameForm form) {
  switch (form) {
    case kFormOwn:
      return "";
    case kFormCp932Bytes:
      return "the unpacker wrote the Japanese (code page 932) names as the bytes the archive "
             "holds, which this system does not read as Japanese (7-Zip and bsdtar do so). Unpack "
             "again with an unpacker that converts Japanese names "
             "(bsdtar --options hdrcharset=CP932 -xf), or rename";
    case kFormCp437:
      return "the unpacker read the Japanese (code page 932) names as code page 437 and wrote "
             "that in UTF-8 (Python's zipfile does so). Unpack again with an unpacker that reads "
             "Japanese names, or give it code page 932 (Python: metadata_encoding=\"cp932\"; "
             "bsdtar --options hdrcharset=CP932 -xf), or rename";
    case kFormCp437Latin1:
      return "the unpacker read the Japanese (code page 932) names as code page 437 and wrote "
             "them in Latin-1, losing some characters (Debian's unzip does so). Unpack again "
             "with an unpacker that reads Japanese names, or give it code page 932 "
             "(bsdtar --options hdrcharset=CP932 -xf), or rename";
    case kFormCp850:
    case kFormCp850Latin1:
      return "the unpacker read the Japanese (code page 932) names as code page 850, as Windows "
             "in Western Europe does. Unpack again with an unpacker that reads Japanese names "
             "(or give it code page 932), or rename";
    case kFormCp1252:
    case kFormCp1252Latin1:
      return "the unpacker read the Japanese (code page 932) names as code page 1252, as Windows "
             "in Western Europe and the Americas does. Unpack again with an unpacker that reads "
             "Japanese names (or give it code page 932), or rename";
    case kFormDecomposed:
      return "the name is stored decomposed (a letter or kana and its marks apart, as macOS "
             "stores names): it looks the same, but its bytes differ. Copy the folder with a "
             "tool that keeps names composed, or rename";
    case kFormTwinCharacter:
      return "the name holds the other of a pair of look-alike characters that JIS and "
             "Windows's code page 932 map differently (\xE3\x80\x9C/\xEF\xBD\x9E, "
             "\xE2\x80\x94/\xE2\x80\x95, \xE2\x80\x96/\xE2\x88\xA5, \xE2\x88\x92/\xEF\xBC\x8D, "
             "\xC2\xA2/\xEF\xBF\xA0, \xC2\xA3/\xEF\xBF\xA1, \xC2\xAC/\xEF\xBF\xA2): a tool that "
             "follows JIS converted it. Rename it to the name listed";
    case kFormLetterCase:
      return "the name differs from the one listed in letter case only, which Windows does not "
             "tell apart but this system does. Rename it to the name listed";
  }
  return "";
}
