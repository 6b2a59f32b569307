#pragma once

#include <windows.h>

#include <string>

#include "cipher/notifier.h"

// Reports as exclamation message boxes owned by the program's window, in the
// program's own texts, and progress as that window's caption. The window is named, not taken to be
// the active one: while a file is transformed the user may be in another
// program, and the warnings and the title still belong to this one.
class WindowNotifier : public Notifier {
 public:
  explicit WindowNotifier(HWND window);

  void Tell(const Report& report) override;
  void Progress(const std::string& name, const std::string& extension, int percent) override;
  // Between blocks the window answers: it paints, moves, and takes Escape,
  // Enter and its close box, which ask whether to stop. Its grey buttons
  // take no clicks.
  void Working() override;

 private:
  HWND window_;
  std::wstring idle_title_;  // as it was before the run, without progress
};

// Drops the keys and clicks, on the controls and on the window frame, that
// wait to be read: they were made before the user could see what would
// receive them (the end of a run, a warning box about to open).
void DiscardWaitingInput();
