#include "unlisted.h"

#include <algorithm>

#include "cp932_convert.h"

namespace {

std::string Lower(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return name;
}

// A stored path as the names on disk read: UTF-8, "/" separated. After the conversion a
// backslash can only be a separator.
std::string DiskForm(const char* stored) {
  std::string utf8 = Cp932TextToUtf8(stored);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

// What systems and unpackers leave in a folder, and no distributor lists.
bool IsLitter(const std::string& name, bool top, const std::vector<std::string>& beside) {
  std::string lower = Lower(name);
  if (lower == "thumbs.db" || lower == "desktop.ini" || lower == ".ds_store") return true;
  if (top && lower == "__macosx") return true;
  // macOS's AppleDouble file of NAME, beside NAME.
  return name.size() > 2 && name.compare(0, 2, "._") == 0 &&
         std::find(beside.begin(), beside.end(), name.substr(2)) != beside.end();
}

class Walk {
 public:
  Walk(Platform& platform, FolderNames& names, const std::set<std::string>& listedFiles,
       const std::set<std::string>& listedFolders, const std::set<std::string>& skip)
      : platform_(platform),
        names_(names),
        files_(listedFiles),
        folders_(listedFolders),
        skip_(skip) {}

  void Folder(const std::string& path, const std::string& relative,
              std::vector<UnlistedEntry>* out) {
    std::vector<std::string> entries;
    if (!names_.List(path, &entries)) return;
    std::sort(entries.begin(), entries.end());
    for (const std::string& name : entries) {
      if (IsLitter(name, relative.empty(), entries)) continue;
      std::string folderPath = names_.Join(path, name, true);
      if (platform_.IsFolder(folderPath.c_str())) {
        std::string rel = relative + name + "/";
        // Listed, or holding something listed: looked into. Otherwise said once, whole.
        auto below = folders_.lower_bound(rel);
        if (below != folders_.end() && below->compare(0, rel.size(), rel) == 0)
          Folder(folderPath, rel, out);
        else if (skip_.count(rel) == 0)
          out->push_back({rel, true});
      } else {
        std::string rel = relative + name;
        if (files_.count(rel) == 0 && skip_.count(rel) == 0) out->push_back({rel, false});
      }
    }
  }

 private:
  Platform& platform_;
  FolderNames& names_;
  const std::set<std::string>& files_;
  const std::set<std::string>&
      folders_;  // every listed folder and every folder above a listed file
  const std::set<std::string>& skip_;
};

void AddFolders(const std::string& path, std::set<std::string>* folders) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    folders->insert(path.substr(0, slash + 1));
}

}  // namespace

std::vector<UnlistedEntry> FindUnlisted(Platform& platform, FolderNames& names,
                                        const std::string& base, const CheckData& data,
                                        const std::string& checkerName,
                                        const std::set<std::string>& foundElsewhere) {
  std::set<std::string> files, folders, skip(foundElsewhere);
  for (uint32_t i = 0; i < data.folderCount; ++i) AddFolders(DiskForm(data.folders[i]), &folders);
  for (uint32_t i = 0; i < data.fileCount; ++i) {
    std::string path = DiskForm(RecordPath(data.fileRecords[i]));
    AddFolders(path, &folders);
    files.insert(path);
  }
  // A folder found under another name holds the listed files under their disk names.
  for (const std::string& found : foundElsewhere) AddFolders(found, &folders);
  skip.insert(checkerName);
  std::vector<UnlistedEntry> out;
  Walk(platform, names, files, folders, skip).Folder(base, "", &out);
  return out;
}
