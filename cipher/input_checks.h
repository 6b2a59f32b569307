#pragma once

#include <cstdint>
#include <string>

#include "cipher/notifier.h"
#include "os/file_system.h"

// Decides whether a transform may start: the two paths name different files,
// both can be opened and no other program writes them, the key file is made
// read-only when asked, and the offset lies in 0 to 255. Returns 1 when the
// transform may start, 0 once the reason has been told.
int CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                int make_key_read_only, Notifier& notifier);

// Whether the key file is the data file: the same path text (on Windows but
// for the case of ASCII letters), or one file on disk under two names;
// unknown, with the system's reason, when the disk cannot say.
os::Sameness CompareInputs(const std::string& data_path, const std::string& key_path, os::Error* error);

// Equal but for the case of the ASCII letters A to Z.
bool SamePathText(const std::string& a, const std::string& b);
