#pragma once

#include "cli/options.h"
#include "os/posix.h"

enum ExitStatus { kAllDone = 0, kSomeFailed = 1, kUsageError = 2 };

// Transforms each FILE in place, and with -r every regular file under the
// folders among them, as one press of the Windows program's button each;
// what cannot be done is said and the rest goes on. Returns the exit status,
// or ends the process by the signal that stopped it.
int TransformFiles(const Options& options);

// Transforms FILE, or standard input, to standard output; not where those
// were closed, nor where the output is the input or the key.
int TransformToStandardOutput(const Options& options, const os::ClosedStreams& closed);
