#pragma once

#include <string>

#include "cipher/notifier.h"

// What the Windows program says, in the texts its users know: those of
// version 1.0x word for word, and in the same style what that version did
// not report, with the system's reason where there is one.

struct WarningText {
  std::string text;
  std::string caption;
  // What the title line shows after the box, where it shows anything.
  std::string title;
};

WarningText WarningFor(const Report& report);

// The title line while a file is transformed.
std::string ProgressTitle(const std::string& name, const std::string& extension, int percent);
