#include "cli/terminal_notifier.h"

TerminalNotifier::TerminalNotifier(std::FILE* stream, bool show_progress)
    : stream_(stream), show_progress_(show_progress) {}

void TerminalNotifier::Warning(const std::string& text, const std::string& caption) {
  EndProgress();
  std::string line = caption + ": ";
  for (char c : text) {
    if (c != '\r') line += c;  // the texts break their lines as Windows does
  }
  std::fprintf(stream_, "%s\n", line.c_str());
  std::fflush(stream_);
}

void TerminalNotifier::Title(const std::string& text) {
  if (!show_progress_) return;
  std::fprintf(stream_, "\r%s\033[K", text.c_str());
  std::fflush(stream_);
  progress_shown_ = true;
}

void TerminalNotifier::EndProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  progress_shown_ = false;
}
