#pragma once

#include <cstdint>
#include <string>

#include "cipher/notifier.h"

// Decides whether a transform may start: the two paths name different files,
// both can be opened (the data file by nobody else), the key file is made
// read-only when asked, and the offset lies in 0 to 255. Returns 1 when the
// transform may start, 0 once the reason has been shown to the user.
int CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                int make_key_read_only, Notifier& notifier);

// Equal but for the case of the ASCII letters A to Z.
bool SamePathText(const std::string& a, const std::string& b);
