#pragma once

#include <cstdio>
#include <string>

#include "cipher/notifier.h"

// Warnings as "CAPTION: TEXT" lines; progress as one line rewritten in place,
// only when it goes to a terminal. On a terminal, control characters in the
// texts (a file name may hold an escape sequence) are shown as \xHH.
class TerminalNotifier : public Notifier {
 public:
  TerminalNotifier(std::FILE* stream, bool show_progress);

  void Warning(const std::string& text, const std::string& caption) override;
  void Title(const std::string& text) override;

  // A line of the command's own, after the progress line is cleared.
  void Line(const std::string& text);

  // Clears the progress line, if one is shown.
  void EndProgress();

 private:
  std::string Shown(const std::string& text) const;

  std::FILE* stream_;
  bool terminal_;
  bool show_progress_;
  bool progress_shown_ = false;
};
