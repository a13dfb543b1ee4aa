#include "scan.h"

#include "checkfile.h"
#include "cp932.h"
#include "cp932_convert.h"

namespace {

struct ScanContext {
  MakerPlatform& platform;
  std::vector<std::string>* folders;
  std::vector<std::string>* files;
  size_t rootLength;
  ScanProblem* problem;
  // Identities of the folders on the way from the root down to the one being listed, so
  // that a link back to one of them is not walked again and again.
  std::vector<std::pair<uint64_t, uint64_t>> ancestors;
};

bool Fail(ScanContext& ctx, ScanProblem::Kind kind, const std::string& path) {
  ctx.problem->kind = kind;
  // The root itself is named whole; anything below it by its relative path.
  ctx.problem->entry = path.size() > ctx.rootLength ? path.substr(ctx.rootLength) : path;
  return false;
}

// Whether the enclosed name of an entry that code page 932 cannot write can be stored in UTF-8:
// its separator byte would split it, and the records take no malformed UTF-8.
bool StorableInUtf8(const std::string& enclosed) {
  if (enclosed.size() < 2 || enclosed.front() != kForeignNameBegin ||
      enclosed.back() != kForeignNameEnd) {
    return false;
  }
  std::string name = enclosed.substr(1, enclosed.size() - 2);
  return !name.empty() && name.find('\\') == std::string::npos &&
         IsStorableUtf8(name.data(), name.size());
}

// An entry's path for the warning that refuses it: within the enclosed names, every byte that
// is not part of storable UTF-8 as \xNN, so that the name is shown whole and unambiguous.
std::string Shown(const std::string& path) {
  std::string out;
  bool enclosed = false;
  for (size_t i = 0; i < path.size();) {
    char c = path[i];
    if (c == kForeignNameBegin || c == kForeignNameEnd) enclosed = c == kForeignNameBegin;
    unsigned char lead = static_cast<unsigned char>(c);
    size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (!enclosed || c == kForeignNameBegin ||
        (i + n <= path.size() && IsStorableUtf8(path.data() + i, n))) {
      out.append(path, i, enclosed ? n : 1);
      i += enclosed ? n : 1;
      continue;
    }
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[lead >> 4];
    out += kHex[lead & 15];
    ++i;
  }
  return out;
}

// The length of `path` as the checker opens it: a path with a name that code page 932 cannot
// write is stored whole in UTF-8, where a Japanese character takes three bytes, not two, and
// read back enclosed in the two marks.
size_t CheckedLength(const ScanContext& ctx, const std::string& path) {
  if (path.find(kForeignNameBegin) == std::string::npos) return path.size();
  return ctx.rootLength + Cp932TextToUtf8(path.substr(ctx.rootLength)).size() + 2;
}

bool IsAncestor(const ScanContext& ctx, const uint64_t id[2]) {
  for (const auto& a : ctx.ancestors) {
    if (a.first == id[0] && a.second == id[1]) return true;
  }
  return false;
}

bool ScanInto(ScanContext& ctx, const std::string& folder, const char* skipName) {
  // The listing runs with folder + "*.*" on Windows; the pattern must fit the path limit.
  if (folder.size() + 3 >= kPathCapacity) return Fail(ctx, ScanProblem::kPathTooLong, folder);
  ListingRef listing = ctx.platform.OpenListing(folder.c_str());
  if (listing == nullptr) return true;  // unreadable folders contribute nothing

  bool ok = true;
  FolderEntry entry;
  while (ok && ctx.platform.NextEntry(listing, &entry)) {
    if (entry.name == "." || entry.name == "..") continue;
    std::string path = folder + entry.name;
    if (!entry.representable && !StorableInUtf8(entry.name)) {
      ok = Fail(ctx, ScanProblem::kNameNotRepresentable, Shown(path));
      break;
    }
    if (entry.isFolder) {
      std::string sub = path + "\\";
      if (CheckedLength(ctx, sub) >= kPathCapacity) {
        ok = Fail(ctx, ScanProblem::kPathTooLong, sub);
        break;
      }
      uint64_t id[2];
      bool known = ctx.platform.FolderIdentity(sub.c_str(), id);
      if (!known || !IsAncestor(ctx, id)) {
        if (known) ctx.ancestors.emplace_back(id[0], id[1]);
        ok = ScanInto(ctx, sub, nullptr);
        if (known) ctx.ancestors.pop_back();
        if (!ok) break;
      }
      ctx.folders->push_back(sub.substr(ctx.rootLength));
    } else {
      if (skipName != nullptr && Cp932EqualNoCase(entry.name.c_str(), skipName)) continue;
      if (CheckedLength(ctx, path) >= kPathCapacity) {
        ok = Fail(ctx, ScanProblem::kPathTooLong, path);
        break;
      }
      ctx.files->push_back(path.substr(ctx.rootLength));
    }
  }
  ctx.platform.CloseListing(listing);
  return ok;
}

}  // namespace

bool ScanFolder(MakerPlatform& platform, const std::string& folder,
                std::vector<std::string>* folders, std::vector<std::string>* files,
                const char* skipName, size_t rootLength, ScanProblem* problem) {
  ScanContext ctx{platform, folders, files, rootLength, problem, {}};
  problem->kind = ScanProblem::kNone;
  problem->entry.clear();
  uint64_t id[2];
  if (platform.FolderIdentity(folder.c_str(), id)) ctx.ancestors.emplace_back(id[0], id[1]);
  return ScanInto(ctx, folder, skipName);
}
