#include "ui/double_click.h"

#include <cstdlib>

bool DoubleClickFilter::IsSecondClick(int button, DWORD time, POINT point, const RECT& button_area) {
  const bool second = button == last_button_ && time - last_time_ <= GetDoubleClickTime() &&
                      std::abs(point.x - last_point_.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                      std::abs(point.y - last_point_.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2 &&
                      PtInRect(&button_area, point);
  last_button_ = button;
  last_time_ = time;
  last_point_ = point;
  return second;
}
