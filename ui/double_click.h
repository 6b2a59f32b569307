#pragma once

#include <windows.h>

// A push button turns a double click into two clicks. This tells the second
// click of a double click on a command button from a new command.
class DoubleClickFilter {
 public:
  // Whether a click on button, at time (milliseconds) and point (screen), is
  // a further click of a double (or triple) click whose first click started
  // the last command: the same button, each click within the system's
  // double-click time and area of the one before, with the pointer on the
  // button (a key press elsewhere is a command of its own).
  bool IsSecondClick(int button, DWORD time, POINT point, const RECT& button_area);

 private:
  int last_button_ = 0;
  DWORD last_time_ = 0;
  POINT last_point_ = {0, 0};
};
