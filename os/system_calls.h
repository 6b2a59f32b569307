#pragma once

// Every call the file layer makes to the system goes through one hook, so
// that a test can make any of them fail, or change a file between two of
// them, without root, mounts or a tracer. Unset, the hook costs a test of
// one pointer.

#include <functional>

namespace os {

// What a call does, whatever the platform names it.
enum class SystemCall {
  kOpen,  // open or create a file or folder
  kLook,  // take a file's facts: identity, size, times, owner, kind
  kRead,
  kWrite,
  kFlush,  // to the disk: a file, a folder, a range being written back
  kClose,
  kRename,
  kRemove,
  kAttribute,   // list, read, write or remove an extended attribute or an access list
  kPermission,  // change or ask for permission bits, an owner, the read-only attribute, a file's times
  kLease,       // take, ask after or give back a lease on an open file
  kList,        // read a folder's entries
};
constexpr int kSystemCallKinds = 12;

const char* NameOf(SystemCall call);

// Returns 0 to let the call be made, or the error it is to fail with instead
// (an errno value, or a Windows error code).
using SystemCallHook = std::function<int(SystemCall call)>;

// Sets the hook, or clears it when given none; only while no other thread
// uses the file layer.
void SetSystemCallHook(SystemCallHook hook);

// For the file layer: whether the call about to be made is to fail, and with
// which error (0: make it).
int Intercept(SystemCall call);

}  // namespace os
