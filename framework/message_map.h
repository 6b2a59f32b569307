#pragma once

// Message maps: a static table per class of {message, notification code,
// control id, handler}, walked in order, then the base class's table. A window
// message's parameters are unpacked here, once, into the handler's arguments.

#include <windows.h>
#include <windowsx.h>

class CCmdTarget;

struct MessageMapEntry {
  UINT message;
  UINT code;  // WM_COMMAND only: the notification code
  UINT id;    // WM_COMMAND only: the control or command id
  INT_PTR (*handler)(CCmdTarget& target, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;  // ends with an entry whose handler is null
};

// Anything that takes messages through a message map.
class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  // Offers a message to the map; false when no entry took it or the handler
  // asked for default processing. *result is what a taking handler returned.
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

  static const MessageMap* GetThisMessageMap();

 protected:
  virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

  // From a handler: let the platform's default processing follow it.
  void Default() { default_requested_ = true; }

 private:
  bool default_requested_ = false;
};

#define DECLARE_MESSAGE_MAP()                    \
 public:                                         \
  static const MessageMap* GetThisMessageMap();  \
                                                 \
 protected:                                      \
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

#define BEGIN_MESSAGE_MAP(theClass, baseClass)       \
  const MessageMap* theClass::GetThisMessageMap() {  \
    using ThisClass [[maybe_unused]] = theClass;     \
    using TheBaseClass = baseClass;                  \
    static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                              \
  { 0, 0, 0, nullptr }                                                 \
  }                                                                    \
  ;                                                                    \
  static const MessageMap map = {TheBaseClass::GetThisMessageMap(), entries}; \
  return &map;                                                         \
  }

// The handler thunk of one entry: unpacks the parameters and calls the member.
#define AFX_HANDLER(...)                                            \
  [](CCmdTarget& target, WPARAM wParam, LPARAM lParam) -> INT_PTR { \
    ThisClass& self = static_cast<ThisClass&>(target);              \
    (void)self; (void)wParam; (void)lParam;                         \
    __VA_ARGS__                                                     \
  }

#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, 0, static_cast<UINT>(id), AFX_HANDLER(self.memberFxn(); return TRUE;)},
#define ON_CONTROL(code, id, memberFxn) \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), AFX_HANDLER(self.memberFxn(); return TRUE;)},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_EN_KILLFOCUS(id, memberFxn) ON_CONTROL(EN_KILLFOCUS, id, memberFxn)

#define ON_MESSAGE(message, memberFxn) \
  {message, 0, 0, AFX_HANDLER(return self.memberFxn(wParam, lParam);)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, AFX_HANDLER(self.OnPaint(); return TRUE;)},
#define ON_WM_SYSCOMMAND() \
  {WM_SYSCOMMAND, 0, 0, AFX_HANDLER(self.OnSysCommand(static_cast<UINT>(wParam), lParam); return TRUE;)},
#define ON_WM_QUERYDRAGICON() \
  {WM_QUERYDRAGICON, 0, 0, AFX_HANDLER(return reinterpret_cast<INT_PTR>(self.OnQueryDragIcon());)},
#define ON_WM_LBUTTONUP()                                                                   \
  {WM_LBUTTONUP, 0, 0,                                                                      \
   AFX_HANDLER(POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};                  \
               self.OnLButtonUp(static_cast<UINT>(wParam), point); return TRUE;)},
// A dialog answers through DWLP_MSGRESULT: TRUE from its procedure says only
// that the message was taken.
#define ON_WM_QUERYENDSESSION()                                                                     \
  {WM_QUERYENDSESSION, 0, 0,                                                                        \
   AFX_HANDLER(SetWindowLongPtrW(self.GetSafeHwnd(), DWLP_MSGRESULT, self.OnQueryEndSession());     \
               return TRUE;)},
#define ON_WM_ENDSESSION() \
  {WM_ENDSESSION, 0, 0, AFX_HANDLER(self.OnEndSession(wParam != FALSE); return TRUE;)},
#define ON_WM_VSCROLL()                                                                     \
  {WM_VSCROLL, 0, 0,                                                                        \
   AFX_HANDLER(self.OnVScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)),           \
                              reinterpret_cast<HWND>(lParam)); return TRUE;)},
