#pragma once

// What the POSIX side of the file layer offers beyond the portable seam, for
// the command-line companion: the standard streams and the names a path has.

#include <cstddef>
#include <string>

namespace os {

// The names of the standard streams, by which the files they are open on can
// be compared with others.
constexpr char kStandardInputName[] = "/dev/stdin";
constexpr char kStandardOutputName[] = "/dev/stdout";

// Writes all size bytes to standard output, or fails.
bool WriteStandardOutput(const void* buffer, std::size_t size);
bool StandardOutputIsTerminal();

// Opens standard input, output and error on the null device where the
// caller left them closed, so that no file opened later takes their place;
// says which were closed. failed: one could not be opened there.
struct ClosedStreams {
  bool input = false;
  bool output = false;
  bool error = false;
  bool failed = false;
};
ClosedStreams KeepStandardStreamsOpen();

// The absolute path of an existing file, every link resolved. Where the
// system cannot resolve it (a part missing, a folder that may not be
// searched, a path too long), the path as it is: the caller then names the
// file as given, relative to the current folder.
std::string AbsolutePath(const std::string& path);

// The file a symbolic link leads to, so that a working file goes beside the
// file itself and the link keeps leading to the result; any other path as it
// is.
std::string ResolveLink(const std::string& path);

}  // namespace os
