// One file under two spellings. On most disks every spelling of a file's path
// leads to one file number. A disk that folds the case of names through FUSE
// (exFAT, FAT) gives each spelling a number of its own, so there spellings
// are compared as the disk compares them: letter by letter in upper case,
// against the names its folders list.

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <cstdlib>
#include <string>

#include "cipher/path_split.h"
#include "os/file_system.h"

namespace os {
namespace {

// The next character of UTF-8 text; a byte that starts no valid character
// stands for itself, apart from every character.
char32_t NextCharacter(const std::string& text, std::size_t* i) {
  const unsigned char lead = static_cast<unsigned char>(text[*i]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  char32_t character = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  bool valid = length != 0 && *i + length <= text.size();
  for (std::size_t k = 1; valid && k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[*i + k]);
    valid = (next & 0xC0) == 0x80;
    character = (character << 6) | (next & 0x3F);
  }
  if (!valid) {
    ++*i;
    return 0x110000 + lead;  // beyond every character
  }
  *i += length;
  return character;
}

// The name as a disk that folds case sees it. Such disks map the letters of
// Unicode's first plane only.
std::u32string Folded(const std::string& name) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::u32string folded;
  for (std::size_t i = 0; i < name.size();) {
    char32_t character = NextCharacter(name, &i);
    if (character < 0x80) {
      if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
    } else if (character <= 0xFFFF && unicode != nullptr) {
      character = static_cast<char32_t>(towupper_l(static_cast<wint_t>(character), unicode));
    }
    folded += character;
  }
  return folded;
}

// How folder lists name: the same spelling, else the one spelling that
// folds to it; empty when neither is listed.
std::string ListedName(const std::string& folder, const std::string& name) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return "";
  const std::u32string wanted = Folded(name);
  std::string found;
  while (const dirent* entry = readdir(listing)) {
    if (name == entry->d_name) {
      found = name;
      break;
    }
    if (found.empty() && Folded(entry->d_name) == wanted) found = entry->d_name;
  }
  closedir(listing);
  return found;
}

// The absolute path of a folder or file, each part spelled as its folder
// lists it; empty when a part cannot be found.
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

std::string ListedPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  const std::string absolute = real;
  std::free(real);
  return Listed(absolute);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0 || sa.st_dev != sb.st_dev) return false;
  if (sa.st_ino == sb.st_ino) return true;
  // Two spellings of one file show the same size and times; two files
  // rarely do, and only those are compared by name.
  if (sa.st_size != sb.st_size || sa.st_mtim.tv_sec != sb.st_mtim.tv_sec ||
      sa.st_mtim.tv_nsec != sb.st_mtim.tv_nsec || S_ISDIR(sa.st_mode) != S_ISDIR(sb.st_mode)) {
    return false;
  }
  const std::string listed_a = ListedPath(a);
  const std::string listed_b = ListedPath(b);
  // A spelling the disk finds but that no folding of ours finds: the disk
  // folds in some other way, and taking two files for one costs far less
  // than the other mistake.
  return listed_a.empty() || listed_b.empty() || listed_a == listed_b;
}

}  // namespace os
