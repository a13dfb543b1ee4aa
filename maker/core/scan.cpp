#include "scan.h"

#include "cp932.h"

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
    if (!entry.representable) {
      ok = Fail(ctx, ScanProblem::kNameNotRepresentable, path);
      break;
    }
    if (entry.isFolder) {
      std::string sub = path + "\\";
      if (sub.size() >= kPathCapacity) {
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
      if (path.size() >= kPathCapacity) {
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
