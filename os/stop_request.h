#pragma once

namespace os {

// A request to stop long work, safe to make from a signal handler. The engine
// looks at it between blocks, never while it replaces the data file.
void RequestStop();
bool StopRequested();
void ClearStopRequest();

}  // namespace os
