#pragma once

#include <cstdio>
#include <string>

#include "cipher/notifier.h"

// Reports as lines on a stream, progress as one line rewritten in place, only
// when it goes to a terminal that understands it (not TERM=dumb). Control
// characters in the texts (a file name may hold a line break or an escape
// sequence) are shown as \xHH, whatever the stream is.
class TerminalNotifier : public Notifier {
 public:
  TerminalNotifier(std::FILE* stream, bool show_progress);

  void Tell(const Report& report) override;
  void Progress(const std::string& name, const std::string& extension, int percent) override;

  // A line of the command's own, after the progress line is cleared.
  void Line(const std::string& text);

  // Progress of the command's own.
  void Status(const std::string& text);

  // Clears the progress line, if one is shown.
  void EndProgress();

  // The engine is given paths from a folder the command has entered: its
  // reports show them from folder (ending with "/"), as the user knows them.
  void ShowPathsFrom(const std::string& folder) { shown_from_ = folder; }

  // How many reports should make the command's status a failure.
  int failures() const { return failures_; }

 private:
  std::string Shown(const std::string& text) const;

  std::FILE* stream_;
  bool show_progress_;
  bool progress_shown_ = false;
  int failures_ = 0;
  std::string shown_from_;
};
