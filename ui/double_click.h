#pragma once

#include <windows.h>

// A push button turns a double click into two clicks. This tells the second
// click of a double click on a command button from a new command.
class DoubleClickFilter {
 public:
  // Whether a click on button, at time (milliseconds) and point (screen), is
  // the second click of a double click whose first click was the last one
  // seen: the same button, within the system's double-click time and area.
  // After a double click the next click starts anew, as in Windows.
  bool IsSecondClick(int button, DWORD time, POINT point);

 private:
  int last_button_ = 0;
  DWORD last_time_ = 0;
  POINT last_point_ = {0, 0};
};
