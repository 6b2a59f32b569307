#include "framework/message_map.h"

namespace {

bool Matches(const MessageMapEntry& entry, UINT message, WPARAM wParam) {
  if (entry.message != message) return false;
  if (message != WM_COMMAND) return true;
  return HIWORD(wParam) == entry.code && LOWORD(wParam) == entry.id;
}

}  // namespace

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
  static const MessageMap map = {nullptr, entries};
  return &map;
}

bool CCmdTarget::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (const MessageMapEntry* entry = map->entries; entry->handler != nullptr; ++entry) {
      if (!Matches(*entry, message, wParam)) continue;
      // Per call: a handler that runs a modal loop (a message box) has other
      // messages handled in between, whose requests are not its own.
      const bool outer_request = default_requested_;
      default_requested_ = false;
      *result = entry->handler(*this, wParam, lParam);
      const bool requested = default_requested_;
      default_requested_ = outer_request;
      return !requested;
    }
  }
  return false;
}
