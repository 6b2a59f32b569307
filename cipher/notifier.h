#pragma once

#include <string>

// How the engine tells the user what happens: a warning and the title line.
// Each front end shows them its own way.
class Notifier {
 public:
  virtual ~Notifier() = default;

  // A warning with a single OK button; returns once the user has seen it.
  virtual void Warning(const std::string& text, const std::string& caption) = 0;

  // The status line: progress while a file is transformed.
  virtual void Title(const std::string& text) = 0;
};
