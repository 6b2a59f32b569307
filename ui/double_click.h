#pragma once

#include <windows.h>

// A push button turns a double click into two clicks, and a key pressed
// twice in a hurry into two presses. This tells the second of them on a
// command button from a new command.
class DoubleClickFilter {
 public:
  // Whether an activation of button, by key or by a click, at time
  // (milliseconds) with the pointer at point (screen), is a further one of a
  // double (or triple) click or press whose first started the last command:
  // the same button, each within the system's double-click time of the one
  // before; a click also within the double-click area of the one before,
  // with the pointer on the button (a command another program sends, with
  // the pointer elsewhere, is a command of its own).
  bool IsSecondClick(int button, DWORD time, POINT point, const RECT& button_area, bool by_key);

 private:
  int last_button_ = 0;
  DWORD last_time_ = 0;
  POINT last_point_ = {0, 0};
};
