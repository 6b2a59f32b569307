#include "cli/terminal_notifier.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/messages.h"
#include "text/escape.h"
#include "text/utf16.h"

namespace {

// A terminal that cannot move back along the line or clear it (an editor's
// shell buffer) gets no progress line.
bool UnderstandsEscapes() {
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace

TerminalNotifier::TerminalNotifier(std::FILE* stream, bool show_progress)
    : stream_(stream),
      show_progress_(show_progress && isatty(fileno(stream)) != 0 && UnderstandsEscapes()) {}

// Escaped wherever the lines go: a log or a pipe read later on a terminal
// must not carry a forged line or an escape sequence either.
std::string TerminalNotifier::Shown(const std::string& text) const { return Escaped(text); }

void TerminalNotifier::Tell(const Report& report) {
  // A file done all the same fails the command when it may not be on disk;
  // an attribute that narrows nothing, left out, does not.
  if (report.event != Event::kAttributeNotKept) ++failures_;
  if (shown_from_.empty()) return Line(MessageFor(report));
  Report shown = report;
  for (std::string* path : {&shown.path, &shown.data_path, &shown.working_path}) {
    if (!path->empty() && (*path)[0] != '/') *path = shown_from_ + *path;
  }
  Line(MessageFor(shown));
}

void TerminalNotifier::Progress(const std::string& name, const std::string& extension, int percent) {
  Status(name + extension + " " + std::to_string(percent) + "%");
}

void TerminalNotifier::Line(const std::string& text) {
  EndProgress();
  std::fprintf(stream_, "%s\n", Shown(text).c_str());
  std::fflush(stream_);
}

void TerminalNotifier::Status(const std::string& text) {
  if (!show_progress_) return;
  // Within one row of the terminal as it is now, or a long name would wrap,
  // and each update would go down the screen rather than over itself.
  winsize size = {};
  const std::size_t columns =
      ioctl(fileno(stream_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
  std::string shown = Shown(text);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < shown.size();) {
    const std::size_t start = i;
    NextCharacter(shown, &i);
    if (++characters > columns) {
      shown.resize(start);
      break;
    }
  }
  std::fprintf(stream_, "\r%s\033[K", shown.c_str());
  std::fflush(stream_);
  progress_shown_ = true;
}

void TerminalNotifier::EndProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  progress_shown_ = false;
}
