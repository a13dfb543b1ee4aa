#include "name_twins.h"

#include <algorithm>
#include <unordered_map>

#include "cp932.h"
#include "cp932_convert.h"
#include "name_forms.h"
#include "platform.h"

// A folder's names, with each folded form that a stored name is compared by, so that a
// folder of thousands of garbled names is searched by lookups, not once per entry.
struct NameTwinSearch::Listing {
  std::vector<std::string> names;
  std::unordered_map<std::string, size_t> exact;
  // A folded form may be shared by several names (README.TXT and Readme.txt): all are kept.
  std::unordered_map<std::string, std::vector<size_t>> decomposed, twins, folded;

  explicit Listing(std::vector<std::string> all) : names(std::move(all)) {
    for (size_t i = 0; i < names.size(); ++i) {
      exact.emplace(names[i], i);
      decomposed[Decomposed(names[i])].push_back(i);
      twins[TwinsFolded(names[i])].push_back(i);
      folded[CaseFolded(names[i])].push_back(i);
    }
  }

  void Exact(const std::string& key, std::vector<std::string>* out) const {
    if (exact.count(key) != 0) out->push_back(key);
  }
  void Folded(const std::unordered_map<std::string, std::vector<size_t>>& map,
              const std::string& key, std::vector<std::string>* out) const {
    auto it = map.find(key);
    if (it == map.end()) return;
    for (size_t i : it->second) out->push_back(names[i]);
  }
};

// A listed entry as a name in its listed folder: its stored bytes (code page 932, or UTF-8
// for an entry of the UTF-8 extension) and its own name as the system writes it.
struct NameTwinSearch::Child {
  std::string stored, own;
  bool utf8;
};

// A listed folder's listed entries, and which missing ones each name of its place could be.
struct NameTwinSearch::Parent {
  std::string shownPrefix;  // its relative path in UTF-8, "/" separators
  std::vector<Child> children;
  std::unordered_map<std::string, size_t> byOwn;
  bool ownersBuilt = false;
  std::unordered_map<std::string, std::vector<size_t>> owners;  // name on disk: children
};

namespace {

// One component of a stored path: its stored bytes and its own name.
struct Component {
  std::string stored, own;
  bool utf8;
};

// The components of a stored relative path, and whether it names a folder (ends in a
// separator). In code page 932 the second byte of a double-byte character is no separator;
// a path of the UTF-8 extension comes enclosed in kForeignNameBegin and kForeignNameEnd.
std::vector<Component> Components(const std::string& path, bool* isFolder) {
  std::string inner = path;
  bool utf8 =
      path.size() >= 2 && path.front() == kForeignNameBegin && path.back() == kForeignNameEnd;
  if (utf8) inner = path.substr(1, path.size() - 2);
  std::vector<Component> out;
  std::string piece;
  auto flush = [&]() {
    if (piece.empty()) return;
    std::string own = piece;
    // A damaged stored name can still be there as its bytes.
    if (!utf8 && !Cp932ToUtf8(piece, &own)) own = piece;
    out.push_back(Component{piece, own, utf8});
    piece.clear();
  };
  *isFolder = false;
  for (size_t i = 0; i < inner.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(inner[i]);
    bool pair = !utf8 && IsCp932LeadByte(c) && i + 1 < inner.size();
    *isFolder = !pair && (c == '\\' || c == '/');
    if (*isFolder) {
      flush();
    } else {
      piece += inner.substr(i, pair ? 2 : 1);
      i += pair ? 1 : 0;
    }
  }
  flush();
  return out;
}

// The key of the folder that the first `count` components lead to: their own names.
std::string KeyOf(const std::vector<Component>& parts, size_t count) {
  std::string key;
  for (size_t i = 0; i < count; ++i) key += parts[i].own + "\\";
  return key;
}

// The forms tried after the own name, in order.
const NameForm kOtherForms[] = {kFormCp932Bytes,    kFormCp437,     kFormCp437Latin1,
                                kFormCp850,         kFormCp1252,    kFormDecomposed,
                                kFormTwinCharacter, kFormLetterCase};

}  // namespace

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

NameTwinSearch::Parent& NameTwinSearch::ParentOf(const std::string& key) {
  std::unique_ptr<Parent>& parent = parents_[key];
  if (!parent) {
    parent.reset(new Parent);
    for (char c : key) parent->shownPrefix += c == '\\' ? '/' : c;
  }
  return *parent;
}

size_t NameTwinSearch::ChildOf(Parent& parent, const std::string& name, bool utf8) {
  std::string own = name;
  if (!utf8 && !Cp932ToUtf8(name, &own)) own = name;
  auto it = parent.byOwn.find(own);
  if (it != parent.byOwn.end()) return it->second;
  parent.children.push_back(Child{name, own, utf8});
  parent.ownersBuilt = false;
  return parent.byOwn[own] = parent.children.size() - 1;
}

void NameTwinSearch::AddListed(const char* storedPath) {
  bool isFolder = false;
  std::vector<Component> parts = Components(storedPath, &isFolder);
  for (size_t i = 0; i < parts.size(); ++i)
    ChildOf(ParentOf(KeyOf(parts, i)), parts[i].stored, parts[i].utf8);
}

std::vector<std::string> NameTwinSearch::Candidates(const Listing& listing, const Parent& parent,
                                                    const Child& child, NameForm form) const {
  std::vector<std::string> found;
  // The code-page forms garble code-page-932 bytes; a name stored in UTF-8 has none of them.
  bool cp932 = !child.utf8;
  switch (form) {
    case kFormCp932Bytes:
      if (cp932) listing.Exact(child.stored, &found);
      break;
    case kFormCp437:
      if (cp932) listing.Exact(ReadAsCodePage(child.stored, kCodePage437), &found);
      break;
    case kFormCp437Latin1:
      if (cp932) listing.Exact(UnzipFatName(child.stored), &found);
      break;
    case kFormCp850:
      if (cp932) listing.Exact(ReadAsCodePage(child.stored, kCodePage850), &found);
      break;
    case kFormCp1252:
      if (cp932) listing.Exact(ReadAsCodePage(child.stored, kCodePage1252), &found);
      break;
    case kFormDecomposed:
      listing.Folded(listing.decomposed, Decomposed(child.own), &found);
      break;
    case kFormTwinCharacter:
      if (cp932) listing.Folded(listing.twins, TwinsFolded(child.own), &found);
      break;
    case kFormLetterCase:
      listing.Folded(listing.folded, CaseFolded(child.own), &found);
      break;
    case kFormOwn:
      break;
  }
  // Never a name that a listed entry has as its own (the child's own was looked up first).
  std::vector<std::string> out;
  for (const std::string& name : found) {
    if (parent.byOwn.count(name) == 0 && std::find(out.begin(), out.end(), name) == out.end())
      out.push_back(name);
  }
  return out;
}

NameSearchResult NameTwinSearch::Match(const Place& at, const Listing& listing, Parent& parent,
                                       size_t index, bool isFolder, NameFinding* finding) {
  const NameFinding& place = at.finding;
  const Child& child = parent.children[index];
  auto fill = [&](const std::string& name, NameForm form) {
    finding->form = form;
    finding->path = names_.Join(place.path, name, isFolder);
    finding->diskName = place.diskName + name + (isFolder ? "/" : "");
  };
  if (listing.exact.count(child.own) != 0) {
    fill(child.own, kFormOwn);
    return kNameFound;
  }
  // Which missing children each name could be, so that a name two of them could have is
  // offered to neither: unzip's table gives ｱｲｳ.txt and ｲｱｳ.txt the same name.
  if (!parent.ownersBuilt) {
    parent.owners.clear();
    for (size_t i = 0; i < parent.children.size(); ++i) {
      if (listing.exact.count(parent.children[i].own) != 0) continue;
      for (NameForm form : kOtherForms) {
        for (const std::string& name : Candidates(listing, parent, parent.children[i], form)) {
          std::vector<size_t>& owners = parent.owners[name];
          if (owners.empty() || owners.back() != i) owners.push_back(i);
        }
      }
    }
    parent.ownersBuilt = true;
  }
  for (NameForm form : kOtherForms) {
    std::vector<std::string> names;
    for (const std::string& name : Candidates(listing, parent, child, form)) {
      if (taken_.count(names_.Join(place.path, name, isFolder)) == 0) names.push_back(name);
    }
    if (names.empty()) continue;
    std::vector<size_t> rivals;
    for (const std::string& name : names) {
      for (size_t i : parent.owners[name]) {
        if (i != index && std::find(rivals.begin(), rivals.end(), i) == rivals.end())
          rivals.push_back(i);
      }
    }
    if (names.size() == 1 && rivals.empty()) {
      fill(names[0], form);
      taken_.insert(finding->path);
      return kNameFound;
    }
    finding->form = form;
    for (const std::string& name : names)
      finding->candidates.push_back(place.diskName + name + (isFolder ? "/" : ""));
    for (size_t i : rivals) finding->rivals.push_back(parent.shownPrefix + parent.children[i].own);
    return kNameAmbiguous;
  }
  return kNameNotFound;
}

NameSearchResult NameTwinSearch::SplitByUnzip(Parent& top, size_t index, NameFinding* finding) {
  const Child& child = top.children[index];
  std::string written = UnzipFatName(child.stored);
  if (child.utf8 || written.find('\\') == std::string::npos) return kNameNotFound;
  // The folders that unzip made of it, each an exact name, none another entry's own.
  std::string path = base_, diskName;
  size_t begin = 0;
  for (size_t end; (end = written.find('\\', begin)) != std::string::npos; begin = end + 1) {
    std::string name = written.substr(begin, end - begin);
    const Listing* listing = ListingOf(path);
    if (name.empty() || listing == nullptr || listing->exact.count(name) == 0 ||
        (begin == 0 && top.byOwn.count(name) != 0)) {
      return kNameNotFound;
    }
    path = names_.Join(path, name, true);
    diskName += name + "/";
  }
  std::string name = written.substr(begin);
  const Listing* listing = ListingOf(path);
  if (name.empty() || listing == nullptr || listing->exact.count(name) == 0) return kNameNotFound;
  finding->form = kFormCp437Latin1;
  finding->path = names_.Join(path, name, false);
  finding->diskName = diskName + name;
  if (taken_.count(finding->path) != 0) return kNameNotFound;
  // Another file of the top folder that unzip writes to the same place.
  for (size_t i = 0; i < top.children.size(); ++i) {
    if (i != index && !top.children[i].utf8 && UnzipFatName(top.children[i].stored) == written)
      finding->rivals.push_back(top.children[i].own);
  }
  if (!finding->rivals.empty()) {
    finding->candidates.push_back(finding->diskName);
    return kNameAmbiguous;
  }
  taken_.insert(finding->path);
  return kNameFound;
}

NameSearchResult NameTwinSearch::Find(const char* storedPath, NameFinding* finding) {
  bool isFolder = false;
  std::vector<Component> parts = Components(storedPath, &isFolder);
  if (parts.empty()) return kNameNotFound;
  // Each folder on the way, from the top: found only where its name really matches.
  Place at;
  at.result = kNameFound;
  at.finding.path = base_;
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    std::string key = KeyOf(parts, i + 1);
    auto known = places_.find(key);
    Place next;
    if (known != places_.end() && (!last || isFolder)) {
      next = known->second;
    } else {
      const Listing* listing = ListingOf(at.finding.path);
      if (listing == nullptr) return kNameNotFound;
      Parent& parent = ParentOf(KeyOf(parts, i));
      size_t index = ChildOf(parent, parts[i].stored, parts[i].utf8);
      next.result = Match(at, *listing, parent, index, !last || isFolder, &next.finding);
      if (next.result == kNameNotFound && i == 0 && last && !isFolder)
        next.result = SplitByUnzip(parent, index, &next.finding);
      if (at.finding.form != kFormOwn) next.finding.form = at.finding.form;
      if (!last || isFolder) places_[key] = next;
    }
    if (last) {
      if (next.result == kNameNotFound) return kNameNotFound;
      // Under its own name all the way: it is there, but not as what it is listed as (a
      // file in a folder's place, a folder in a file's), and no other form changes that.
      if (next.result == kNameFound && next.finding.form == kFormOwn) return kNameNotFound;
      *finding = next.finding;
      return next.result;
    }
    if (next.result != kNameFound) return kNameNotFound;
    at = next;
  }
  return kNameNotFound;
}

const char* NameFormId(NameForm form) {
  static const char* const ids[kNameFormCount] = {"own",          "cp932-bytes",    "cp437",
                                                  "cp437-latin1", "cp850",          "cp1252",
                                                  "decomposed",   "twin-character", "letter-case"};
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
             "them in Latin-1, with a stand-in for each character Latin-1 lacks (Debian's unzip "
             "does so for a zip made on Windows). Unpack again "
             "with an unpacker that reads Japanese names, or give it code page 932 "
             "(bsdtar --options hdrcharset=CP932 -xf), or rename";
    case kFormCp850:
      return "the unpacker read the Japanese (code page 932) names as code page 850, as Windows "
             "in Western Europe does. Unpack again with an unpacker that reads Japanese names "
             "(or give it code page 932), or rename";
    case kFormCp1252:
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
