#include "ui/double_click.h"

#include <cstdlib>

bool DoubleClickFilter::IsSecondClick(int button, DWORD time, POINT point) {
  const bool second = button == last_button_ && time - last_time_ <= GetDoubleClickTime() &&
                      std::abs(point.x - last_point_.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                      std::abs(point.y - last_point_.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2;
  last_button_ = second ? 0 : button;
  last_time_ = time;
  last_point_ = point;
  return second;
}
