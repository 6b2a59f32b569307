#include "os/tree_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/calls_posix.h"

namespace os {

using namespace posix;

struct TreeWalk::Level {
  std::shared_ptr<const Folder> folder;
  std::string shown;
  std::vector<std::pair<std::string, WalkEntry::Kind>> files;  // all but folders, by name
  std::vector<std::string> folders;                            // by name
  std::size_t next_file = 0;
  std::size_t next_folder = 0;
};

namespace {

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// What a listing says an entry is, or what a look at it says where the
// listing does not tell; false when neither can say.
bool KindOf(int folder, const dirent& entry, bool* is_folder, WalkEntry::Kind* kind) {
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    struct stat st;
    if (FstatAt(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
  }
  *is_folder = type == DT_DIR;
  *kind = type == DT_REG ? WalkEntry::kFile : type == DT_LNK ? WalkEntry::kLink : WalkEntry::kOther;
  return true;
}

}  // namespace

TreeWalk::TreeWalk(const std::string& root) : root_(root) {}
TreeWalk::~TreeWalk() = default;

bool TreeWalk::Enter(const std::shared_ptr<const Folder>& parent, const std::string& name, const std::string& shown,
                     WalkEntry* failed) {
  failed->kind = WalkEntry::kFailed;
  failed->folder.reset();
  failed->name = name;
  failed->shown = shown;
  // Never through a link: a folder swapped for one meanwhile is refused.
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  const int fd = parent ? OpenAt(static_cast<int>(parent->handle_), name.c_str(), flags) : Open(name.c_str(), flags);
  if (fd < 0) {
    failed->error = LastError();
    return false;
  }
  auto folder = std::make_shared<Folder>();
  folder->Take(fd);
  // Listed, but closed to its files: they are left as they are, said once.
  if (FaccessAt(fd, ".", X_OK, AT_EACCESS) != 0 || !folder->LookAtDisk()) {
    failed->error = LastError();
    return false;
  }
  const int listed = dup(fd);
  DIR* listing = listed < 0 ? nullptr : OpenListing(listed);
  if (listing == nullptr) {
    failed->error = LastError();
    if (listed >= 0) Close(listed);
    return false;
  }
  std::unique_ptr<Level> level(new Level);
  level->folder = folder;
  level->shown = shown;
  for (;;) {
    const dirent* entry = NextListed(listing);
    if (entry == nullptr) {
      if (errno == 0) break;
      failed->error = LastError();
      closedir(listing);
      return false;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    bool is_folder = false;
    WalkEntry::Kind kind = WalkEntry::kOther;
    if (!KindOf(fd, *entry, &is_folder, &kind)) {
      if (errno == ENOENT) continue;  // gone since it was listed
      failed->error = LastError();
      closedir(listing);
      return false;
    }
    if (is_folder) {
      level->folders.emplace_back(entry->d_name);
    } else {
      level->files.emplace_back(entry->d_name, kind);
    }
  }
  closedir(listing);
  std::sort(level->files.begin(), level->files.end());
  std::sort(level->folders.begin(), level->folders.end());
  levels_.push_back(std::move(level));
  return true;
}

bool TreeWalk::Next(WalkEntry* entry) {
  if (!started_) {
    started_ = true;
    if (!Enter(nullptr, root_, root_, entry)) return true;
  }
  while (!levels_.empty()) {
    Level& level = *levels_.back();
    if (level.next_file < level.files.size()) {
      const auto& file = level.files[level.next_file++];
      entry->kind = file.second;
      entry->folder = level.folder;
      entry->name = file.first;
      entry->shown = Joined(level.shown, file.first);
      entry->error = Error();
      return true;
    }
    if (level.next_folder < level.folders.size()) {
      const std::string& name = level.folders[level.next_folder++];
      const std::shared_ptr<const Folder> parent = level.folder;
      if (!Enter(parent, name, Joined(level.shown, name), entry)) return true;
      continue;
    }
    levels_.pop_back();
  }
  return false;
}

}  // namespace os
