#include "os/stop_request.h"

#include <csignal>

namespace os {
namespace {
volatile std::sig_atomic_t stop_requested = 0;
}

void RequestStop() { stop_requested = 1; }
bool StopRequested() { return stop_requested != 0; }
void ClearStopRequest() { stop_requested = 0; }

}  // namespace os
