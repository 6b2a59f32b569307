#pragma once

#include "os/notifier.h"

namespace os {

// Warnings as exclamation message boxes owned by the active window, and the
// title line as that window's caption.
class WindowNotifier : public Notifier {
 public:
  void Warning(const std::string& text, const std::string& caption) override;
  void Title(const std::string& text) override;
};

}  // namespace os
