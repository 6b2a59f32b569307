#include "cli/terminal_notifier.h"

#include <unistd.h>

TerminalNotifier::TerminalNotifier(std::FILE* stream, bool show_progress)
    : stream_(stream), terminal_(isatty(fileno(stream)) != 0), show_progress_(show_progress && terminal_) {}

std::string TerminalNotifier::Shown(const std::string& text) const {
  std::string shown;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\r') continue;  // the texts break their lines as Windows does
    if (terminal_ && c != '\n' && (byte < 0x20 || byte == 0x7F)) {
      static const char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

void TerminalNotifier::Warning(const std::string& text, const std::string& caption) { Line(caption + ": " + text); }

void TerminalNotifier::Line(const std::string& text) {
  EndProgress();
  std::fprintf(stream_, "%s\n", Shown(text).c_str());
  std::fflush(stream_);
}

void TerminalNotifier::Title(const std::string& text) {
  if (!show_progress_) return;
  std::fprintf(stream_, "\r%s\033[K", Shown(text).c_str());
  std::fflush(stream_);
  progress_shown_ = true;
}

void TerminalNotifier::EndProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  progress_shown_ = false;
}
