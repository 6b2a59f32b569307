#include "cli/stop_signals.h"

#include <signal.h>

#include <initializer_list>

#include "os/stop_request.h"

namespace {

volatile sig_atomic_t stop_signal = 0;

void OnStopSignal(int signal_number) {
  stop_signal = signal_number;
  os::RequestStop();
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

int StopSignal() { return stop_signal; }
