#include "cli/stop_signals.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <initializer_list>

#include "os/stop_request.h"

namespace {

volatile sig_atomic_t stop_signal = 0;

void OnStopSignal(int signal_number) {
  stop_signal = signal_number;
  os::RequestStop();
}

}  // namespace

bool CatchStopSignals(StopSignals how) {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read, write or open that waits (a FIFO, a pipe nobody
  // empties, a terminal) ends with EINTR, so a stop is never stuck behind
  // it; the file layer tries such a call again only while no stop is asked.
  action.sa_flags = 0;
  // The signals users, shells and limits send to end a command.
  for (int signal_number :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF}) {
    struct sigaction before;
    if (sigaction(signal_number, nullptr, &before) != 0) return false;
    if (before.sa_handler == SIG_IGN) continue;
    if (sigaction(signal_number, &action, nullptr) != 0) return false;
  }
  // Without these, a reader of stderr gone (Ctrl-C on "| tee") or a file size
  // limit would kill the process before it removes its working file: the
  // failed write is reported instead.
  if (how == StopSignals::kCleanUp && signal(SIGPIPE, SIG_IGN) == SIG_ERR) return false;
  return signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
}

int StopSignal() { return stop_signal; }

void EndByStopSignal() {
  const int signal_number = stop_signal;
  // Ctrl-\ would leave a core file, with key bytes in it, over any file of
  // that name: the shell still hears of the signal.
  prctl(PR_SET_DUMPABLE, 0);
  const rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  signal(signal_number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);  // not reached unless the signal is blocked elsewhere
}
