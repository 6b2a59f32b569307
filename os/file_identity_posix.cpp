// One file under two spellings. On most disks every spelling of a file's path
// leads to one file number. A disk that folds the case of names through FUSE
// (exFAT, and FAT or NTFS the same way) gives each spelling a number of its
// own, and keeps the size and times it last saw under each for a while, so
// there a file is known by its path as the folders list it, from the disk's
// mount point down (the folders above may be closed to listing), every part
// found as the disk compares names: letter by letter in upper case. Each
// folder is listed once for the life of the process, and again only when a
// name is not found in it.

#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "os/calls_posix.h"
#include "os/file_system.h"
#include "os/posix.h"
#include "text/fold.h"
#include "text/path_split.h"

namespace os {
namespace {

using namespace posix;

constexpr long kFuseMagic = 0x65735546;

// A folder's names, as spelled and by how a folding disk would fold them.
struct Listing {
  std::set<std::string> spelled;
  std::map<std::u32string, std::string> folded;
};

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

// Lists a folder; false (errno says why) when it cannot be.
bool List(const std::string& folder, Listing* listing) {
  const int fd = Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = fd < 0 ? nullptr : OpenListing(fd);
  if (entries == nullptr) {
    if (fd >= 0) Close(fd);
    return false;
  }
  *listing = Listing();
  while (const dirent* entry = NextListed(entries)) {
    listing->spelled.insert(entry->d_name);
    listing->folded.emplace(FoldedName(entry->d_name), entry->d_name);
  }
  const int reason = errno;
  closedir(entries);
  errno = reason;
  return reason == 0;
}

// Folder's listing, listed once, or again when fresh (a name is new since);
// null (errno says why) when it cannot be listed.
const Listing* ListingOf(const std::string& folder, bool fresh) {
  static std::map<std::string, Listing> listings;
  const auto known = listings.find(folder);
  if (!fresh && known != listings.end()) return &known->second;
  Listing listing;
  if (!List(folder, &listing)) return nullptr;
  return &(listings[folder] = std::move(listing));
}

// How folder lists name: the same spelling, else the one that folds to it;
// empty (errno says why) when neither is listed.
std::string ListedName(const std::string& folder, const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Listing* listing = ListingOf(folder, attempt == 1);
    if (listing == nullptr) return "";
    if (listing->spelled.count(name) != 0) return name;
    const auto found = listing->folded.find(FoldedName(name));
    if (found != listing->folded.end()) return found->second;
  }
  errno = ENOENT;
  return "";
}

// Where the disk with device number device is mounted, as the system's
// table of mounts says; empty when it does not.
std::string MountPointOf(dev_t device) {
  static std::map<dev_t, std::string> known;
  const auto found = known.find(device);
  if (found != known.end()) return found->second;
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::string line;
  std::string point;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, at;
    if (!(fields >> id >> parent >> numbers >> root >> at) || numbers != wanted) continue;
    // Spaces and the like are written as \ooo.
    std::string decoded;
    for (std::size_t i = 0; i < at.size(); ++i) {
      if (at[i] == '\\' && i + 3 < at.size()) {
        decoded += static_cast<char>(std::strtol(at.substr(i + 1, 3).c_str(), nullptr, 8));
        i += 3;
      } else {
        decoded += at[i];
      }
    }
    if (decoded.size() > point.size()) point = decoded;
  }
  known[device] = point;
  return point;
}

// The path below the mount point of an absolute path without links, each
// part spelled as its folder lists it; empty (errno says why) when a part
// cannot be found.
std::string Listed(const std::string& absolute, const std::string& mount_point) {
  if (absolute.size() <= mount_point.size()) return "/";
  std::string folder = mount_point;
  std::string listed;
  std::size_t start = mount_point.size() + (mount_point.back() == '/' ? 0 : 1);
  while (start < absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string name = ListedName(folder, absolute.substr(start, end - start));
    if (name.empty()) return "";
    listed += "/" + name;
    folder += (folder.back() == '/' ? "" : "/") + name;
    start = end + 1;
  }
  return listed;
}

// The name with the case of its ASCII letters swapped.
std::string SwappedCase(const std::string& name) {
  std::string swapped = name;
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return swapped;
}

// Whether a FUSE disk folds names, as a look at name in folder (an absolute
// path) with its letters' case swapped shows: a file found that the listing
// does not name so. Many FUSE layers (bindfs, sshfs) fold nothing; each
// disk is asked once, by the first name that has a letter.
bool FoldsNames(dev_t device, const std::string& folder, const std::string& name) {
  static std::map<dev_t, bool> known;
  const auto found = known.find(device);
  if (found != known.end()) return found->second;
  const std::string swapped = SwappedCase(name);
  if (swapped == name) return true;  // not known yet: listed names tell files apart either way
  struct stat st;
  if (Stat((folder + "/" + swapped).c_str(), &st) != 0) {
    if (errno != ENOENT) return true;
    return known[device] = false;
  }
  // Listed so, it is a file of its own name: no sign either way.
  if (ListedName(folder, swapped) == swapped) return true;
  return known[device] = true;
}

// Whether the disk that holds the file at path, on device, tells files by
// listing, as a FUSE disk does.
bool ByListing(const std::string& path, dev_t device, Error* error, bool* failed) {
  static std::map<dev_t, bool> known;
  const auto found = known.find(device);
  if (found != known.end()) return found->second;
  struct statfs disk;
  if (Statfs(path.c_str(), &disk) != 0) {
    *error = LastError();
    *failed = true;
    return false;
  }
  return known[device] = disk.f_type == kFuseMagic;
}

Keyed ListedKey(const std::string& absolute, dev_t device, FileKey* key, Error* error) {
  const std::string folder = FolderPart(absolute);
  if (!FoldsNames(device, folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder, NamePart(absolute))) {
    return Keyed::kKeyed;  // numbers tell files apart there
  }
  const std::string mount_point = MountPointOf(device);
  if (mount_point.empty() || absolute.compare(0, mount_point.size(), mount_point) != 0) {
    *error = {ENOENT, "its disk is not in the table of mounts"};
    return Keyed::kFailed;
  }
  key->listed = Listed(absolute, mount_point);
  if (key->listed.empty()) {
    *error = LastError();
    return Keyed::kFailed;
  }
  return Keyed::kKeyed;
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
  std::lock_guard<std::mutex> lock(Lock());
  bool failed = false;
  if (!ByListing(path, st.st_dev, error, &failed)) return failed ? Keyed::kFailed : Keyed::kKeyed;
  char* real = RealPath(path.c_str());
  if (real == nullptr) {
    *error = LastError();
    return Keyed::kFailed;
  }
  const std::string absolute = real;
  std::free(real);
  return ListedKey(absolute, st.st_dev, key, error);
}

Keyed KeyIn(const Folder& folder, const std::string& name, const FileFacts& facts, FileKey* key, Error* error) {
  key->volume = facts.stamp.volume;
  key->index = facts.stamp.index;
  key->listed.clear();
  // The folder's own path, as the system reached it: its parts may be
  // spelled otherwise than listed.
  const std::string fd_path = "/proc/self/fd/" + std::to_string(folder.handle_);
  if (!folder.by_listing_) return Keyed::kKeyed;
  std::lock_guard<std::mutex> lock(Lock());
  std::string reached(PATH_MAX, '\0');
  const ssize_t length = readlink(fd_path.c_str(), &reached[0], reached.size());
  if (length <= 0) {
    *error = LastError();
    return Keyed::kFailed;
  }
  reached.resize(static_cast<std::size_t>(length));
  return ListedKey((reached == "/" ? "" : reached) + "/" + name, static_cast<dev_t>(facts.stamp.volume), key, error);
}

}  // namespace os
