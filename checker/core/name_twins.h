// Finding a listed folder or file that is not there under its own name under the forms that
// unpackers and other systems give names: the code-page-932 bytes themselves, those bytes
// read as code page 437, 850 or 1252, unzip's fixed table, a decomposed name, a twin
// character, another case. Only a name that a form really gives is offered, never one that
// another listed entry has or could have.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// How an entry was found, in the order the forms are tried.
enum NameForm {
  kFormOwn,            // under its own name
  kFormCp932Bytes,     // the code-page-932 bytes as they are (7-Zip, bsdtar on Linux)
  kFormCp437,          // the bytes read as code page 437, in UTF-8 (Python's zipfile)
  kFormCp437Latin1,    // the same in Latin-1 bytes by Debian's unzip's table (UnzipFatName)
  kFormCp850,          // read as code page 850 (Windows in Western Europe, OEM)
  kFormCp1252,         // read as code page 1252 (Windows in the West, ANSI)
  kFormDecomposed,     // decomposed, as macOS stores names (NFD)
  kFormTwinCharacter,  // 〜 for ～ and the other pairs JIS and Windows map differently
  kFormLetterCase,     // letters in another case, which Windows does not tell apart
};
constexpr int kNameFormCount = kFormLetterCase + 1;

// The names a folder holds as the system has them, and the paths made of them: what the
// search needs beyond Platform. Paths are Platform paths; names are the system's own bytes
// (any bytes on Linux, UTF-8 on Windows), which code page 932 may not be able to write.
class FolderNames {
 public:
  // The names of the entries of `folder` (a Platform path ending in a separator); false
  // when it cannot be listed.
  virtual bool List(const std::string& folder, std::vector<std::string>* names) = 0;
  // The Platform path of the entry `name` of `folder`, ending in a separator for a folder.
  virtual std::string Join(const std::string& folder, const std::string& name, bool isFolder) = 0;
  // A relative path as the search names it (NameFinding::diskName) as a walk of these names
  // meets it: the same, unless a listing joins names that are apart on disk (the page's).
  virtual std::string AsWalked(const std::string& diskName) { return diskName; }

 protected:
  ~FolderNames() = default;
};

enum NameSearchResult {
  kNameNotFound,   // under no form, or only under its own name
  kNameFound,      // under one name that no other listed entry can have
  kNameAmbiguous,  // under a form that gives several names, or a name other entries could have
};

// Where a listed entry was found, or which names it could be.
struct NameFinding {
  NameForm form = kFormOwn;  // the form of the outermost name that was not its own
  std::string path;          // the Platform path to open it by
  std::string diskName;      // its relative path as on disk: the names joined by "/"
  // Ambiguous: the relative paths on disk ("/" separators) that it could be, and the other
  // listed entries (stored paths) that could be one of them as well.
  std::vector<std::string> candidates, rivals;
};

// Looks for listed entries under the base folder `base` (a Platform path ending in a
// separator). Each folder is listed once, however many entries are looked for in it.
class NameTwinSearch {
 public:
  NameTwinSearch(FolderNames& names, const std::string& base);
  ~NameTwinSearch();
  // Tells the search of every listed entry (its stored relative path) before the first Find:
  // a name on disk that is an entry's own, or that a form gives for several missing entries,
  // is never offered for one of them.
  void AddListed(const char* storedPath);
  // Looks for the stored relative path (code page 932, backslash separators, a folder's
  // ending in one; or enclosed in UTF-8, checkfile.h) name by name. Found: there with at
  // least one name under another form than its own. A folder that is not found, or only
  // ambiguously, is not looked into: what is listed inside it is not found.
  NameSearchResult Find(const char* storedPath, NameFinding* finding);

 private:
  struct Listing;
  struct Child;
  struct Parent;
  struct Place {
    NameSearchResult result = kNameNotFound;
    NameFinding finding;
  };
  const Listing* ListingOf(const std::string& folder);
  Parent& ParentOf(const std::string& key);
  // The index of the child whose stored name is `name` in `parent`, added when not listed.
  size_t ChildOf(Parent& parent, const std::string& name, bool utf8);
  // The names of `listing` that `form` gives for `child`, less those another entry owns.
  std::vector<std::string> Candidates(const Listing& listing, const Parent& parent,
                                      const Child& child, NameForm form) const;
  // Which name of the place `at` (its `listing`) the child `index` of `parent` has.
  NameSearchResult Match(const Place& at, const Listing& listing, Parent& parent, size_t index,
                         bool isFolder, NameFinding* finding);

  // Debian's unzip makes a path of a name from Windows that holds no "/": a file of the top
  // folder whose name has the byte 0x5C (表, ソ) lies in a folder of the name's first part.
  NameSearchResult SplitByUnzip(Parent& top, size_t index, NameFinding* finding);

  FolderNames& names_;
  std::string base_;
  std::map<std::string, std::unique_ptr<Listing>> listings_;  // by Platform path
  // By a listed folder's own relative path: its own names, each followed by a backslash.
  std::map<std::string, std::unique_ptr<Parent>> parents_;
  std::map<std::string, Place> places_;  // where each listed folder was found, if it was
  std::set<std::string> taken_;          // the Platform paths found for an entry
};

// The form's name in vexorin-check's JSON report.
const char* NameFormId(NameForm form);
// In plain words: what gave the entry that name, and what to do about it.
const char* NameFormCause(NameForm form);
