#pragma once

enum class StopSignals {
  kCleanUp,    // a broken pipe or a file size limit shows as a failed write
  kStreaming,  // a broken pipe ends the command, as it ends any program in a pipe
};

// Ctrl-C, Ctrl-\, termination and hang-up ask the engine to stop instead of
// killing the process, so an unfinished working file is always removed and a
// data file being replaced is replaced completely; a signal that was ignored
// when the program started (nohup) stays ignored. False (errno says why)
// when the system would not take them: the command must not start then.
bool CatchStopSignals(StopSignals how);

// The signal that asked to stop, or 0.
int StopSignal();

// Ends the process by the signal that asked it to stop, once everything is
// cleaned up: the shell then sees what happened, and a loop around the
// command stops too.
[[noreturn]] void EndByStopSignal();
