#include "ui/double_click.h"

#include <cstdlib>

bool DoubleClickFilter::IsSecondClick(int button, DWORD time, POINT point, const RECT& button_area, bool by_key) {
  const bool in_time = button == last_button_ && time - last_time_ <= GetDoubleClickTime();
  const bool on_button = PtInRect(&button_area, point) != FALSE;
  const bool in_place = std::abs(point.x - last_point_.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                        std::abs(point.y - last_point_.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2;
  const bool second = in_time && (by_key || (on_button && in_place));
  last_button_ = button;
  last_time_ = time;
  last_point_ = point;
  return second;
}
