#pragma once

#include <string>

#include "cipher/notifier.h"

// A report as the command line words it: "vaultine: FILE: reason", the file
// it is about first, then what happened, the system's reason where there is
// one, and what was left where.
std::string MessageFor(const Report& report);

// What a file done is called: "encrypted" or "decrypted".
const char* DoneWord(TransformDirection direction);
