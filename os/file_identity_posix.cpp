// One file under two spellings. On most disks every spelling of a file's path
// leads to one file number. A disk that folds the case of names through FUSE
// (exFAT, and FAT or NTFS the same way) gives each spelling a number of its
// own, and keeps the size and times it last saw under each for a while, so
// there a file is known by its path as the folders list it, every part
// found as the disk compares names: letter by letter in upper case.

#include <cerrno>
#include <cstdlib>
#include <string>

#include "os/calls_posix.h"
#include "os/file_system.h"
#include "text/fold.h"
#include "text/path_split.h"

namespace os {
namespace {

using namespace posix;

constexpr long kFuseMagic = 0x65735546;

// How folder lists name: the same spelling, else the one that folds to it;
// empty when neither is listed (errno says why, where the listing failed).
std::string ListedName(const std::string& folder, const std::string& name) {
  const int fd = Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = fd < 0 ? nullptr : OpenListing(fd);
  if (listing == nullptr) {
    if (fd >= 0) Close(fd);
    return "";
  }
  std::string found;
  const std::u32string wanted = FoldedName(name);
  while (const dirent* entry = NextEntry(listing)) {
    if (name == entry->d_name) {
      found = name;
      break;
    }
    if (found.empty() && FoldedName(entry->d_name) == wanted) found = entry->d_name;
  }
  closedir(listing);
  if (found.empty()) errno = ENOENT;
  return found;
}

// An absolute path without links, each part spelled as its folder lists it;
// empty when a part cannot be found.
std::string Listed(const std::string& absolute) {
  const std::string name = NamePart(absolute);
  if (name.empty()) return absolute;  // the root
  std::string folder = FolderPart(absolute);
  if (folder.size() > 1) folder.pop_back();
  const std::string listed_folder = Listed(folder);
  if (listed_folder.empty()) return "";
  const std::string listed_name = ListedName(listed_folder, name);
  if (listed_name.empty()) return "";
  return (listed_folder == "/" ? "/" : listed_folder + "/") + listed_name;
}

}  // namespace

Keyed KeyOf(const std::string& path, FileKey* key, Error* error) {
  struct stat st;
  if (Stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Keyed::kNothing;
    *error = LastError();
    return Keyed::kFailed;
  }
  key->volume = st.st_dev;
  key->index = st.st_ino;
  key->listed.clear();
  struct statfs disk;
  if (Statfs(path.c_str(), &disk) != 0) {
    *error = LastError();
    return Keyed::kFailed;
  }
  if (disk.f_type != kFuseMagic) return Keyed::kKeyed;
  char* real = RealPath(path.c_str());
  if (real != nullptr) {
    key->listed = Listed(real);
    std::free(real);
  }
  if (key->listed.empty()) {
    *error = LastError();
    return Keyed::kFailed;
  }
  return Keyed::kKeyed;
}

}  // namespace os
