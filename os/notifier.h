#pragma once

#include <string>

namespace os {

// How the engine tells the user what happens: a warning box and the title line.
class Notifier {
 public:
  virtual ~Notifier() = default;

  // A warning with a single OK button; returns once the user has seen it.
  virtual void Warning(const std::string& text, const std::string& caption) = 0;

  // The status line: progress while a file is transformed.
  virtual void Title(const std::string& text) = 0;
};

}  // namespace os
