#include "cli/terminal_notifier.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/messages.h"

namespace {

// A terminal that cannot move back along the line or clear it (an editor's
// shell buffer) gets no progress line.
bool UnderstandsEscapes() {
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

void Escape(std::string& shown, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  shown += "\\x";
  shown += kHex[byte >> 4];
  shown += kHex[byte & 15];
}

// The length of the UTF-8 character at text[i] that a terminal may show as
// it is, or 0: a malformed sequence or a control character (C1 included).
std::size_t PrintableCharacter(const std::string& text, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead >= 0x20 && lead < 0x7F) return 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  const bool c1 = lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
  return c1 ? 0 : length;
}

}  // namespace

TerminalNotifier::TerminalNotifier(std::FILE* stream, bool show_progress)
    : stream_(stream),
      terminal_(isatty(fileno(stream)) != 0),
      show_progress_(show_progress && terminal_ && UnderstandsEscapes()) {}

std::string TerminalNotifier::Shown(const std::string& text) const {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = terminal_ ? PrintableCharacter(text, i) : 1;
    if (length == 0) {
      Escape(shown, static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      shown.append(text, i, length);
      i += length;
    }
  }
  return shown;
}

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
