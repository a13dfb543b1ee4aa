// Finding a listed folder or file that is not there under its own name under the forms that
// unpackers and other systems give names: the code-page-932 bytes themselves, those bytes
// read as code page 437, 850 or 1252, a decomposed name, a twin character, another case.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

// How an entry was found, in the order the forms are tried.
enum NameForm {
  kFormOwn,          // under its own name
  kFormCp932Bytes,   // the code-page-932 bytes as they are (7-Zip, bsdtar on Linux)
  kFormCp437,        // the bytes read as code page 437, in UTF-8 (Python's zipfile)
  kFormCp437Latin1,  // the same in Latin-1 bytes, characters Latin-1 lacks lost (unzip)
  kFormCp850,        // read as code page 850 (Windows in Western Europe, OEM)
  kFormCp850Latin1,
  kFormCp1252,  // read as code page 1252 (Windows in the West, ANSI)
  kFormCp1252Latin1,
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

 protected:
  ~FolderNames() = default;
};

// Where a listed entry was found.
struct NameFinding {
  NameForm form = kFormOwn;  // the form of the outermost name that was not its own
  std::string path;          // the Platform path to open it by
  std::string diskName;      // its relative path as on disk: the names joined by "/"
};

// Looks for listed entries under the base folder `base` (a Platform path ending in a
// separator). Each folder is listed once, however many entries are looked for in it.
class NameTwinSearch {
 public:
  NameTwinSearch(FolderNames& names, const std::string& base);
  ~NameTwinSearch();
  // Looks for the stored relative path (code page 932, backslash separators, a folder's
  // ending in one) name by name; true when it is there with at least one name under another
  // form than its own.
  bool Find(const char* storedPath, NameFinding* finding);

 private:
  struct Listing;
  struct Place {
    bool found = false;
    NameFinding finding;
  };
  const Listing* ListingOf(const std::string& folder);
  // The folder that the stored folder path `prefix` (ending in a separator) leads to.
  const Place& FolderPlace(const std::string& prefix);
  // The name of `listing` that the stored name `name` has under the first form that finds it.
  bool Match(const Listing& listing, const std::string& name, std::string* found, NameForm* form);

  FolderNames& names_;
  std::string base_;
  std::map<std::string, std::unique_ptr<Listing>> listings_;  // by Platform path
  std::map<std::string, Place> places_;                       // by stored folder path
};

// The form's name in vexorin-check's JSON report.
const char* NameFormId(NameForm form);
// In plain words: what gave the entry that name, and what to do about it.
const char* NameFormCause(NameForm form);
