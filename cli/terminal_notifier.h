#pragma once

#include <cstdio>

#include "os/notifier.h"

// Warnings as "CAPTION: TEXT" lines; progress as one line rewritten in place,
// only when it goes to a terminal.
class TerminalNotifier : public os::Notifier {
 public:
  TerminalNotifier(std::FILE* stream, bool show_progress);

  void Warning(const std::string& text, const std::string& caption) override;
  void Title(const std::string& text) override;

  // Clears the progress line, if one is shown.
  void EndProgress();

 private:
  std::FILE* stream_;
  bool show_progress_;
  bool progress_shown_ = false;
};
