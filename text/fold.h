#pragma once

#include <string>

// Two ways names are compared without regard to case.

// Windows compares paths without regard to the case of the ASCII letters A
// to Z (every other byte must match): the texts are the same path.
bool SamePathText(const std::string& a, const std::string& b);

// The name as a disk that folds case (exFAT, FAT and NTFS through FUSE)
// compares it: every character of Unicode's first plane in upper case, as
// the C.UTF-8 locale maps it; characters beyond it, and bytes that are no
// UTF-8, as they are. Two names the disk takes for one fold to equal texts.
// Only where such disks are met: on POSIX.
std::u32string FoldedName(const std::string& name);
