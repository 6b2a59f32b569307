#pragma once

#include <cstdint>
#include <string>

#include "cli/terminal_notifier.h"

// Writes a new key file of size random bytes from the system's cryptographic
// generator: never over an existing file, readable by its owner only, flushed
// to disk, with progress for large sizes. On any failure or a stop request the
// unfinished file is removed and the reason shown; returns true when the key
// file is complete.
bool MakeKeyFile(const std::string& path, std::uint64_t size, TerminalNotifier& notifier);
