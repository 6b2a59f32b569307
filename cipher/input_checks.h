#pragma once

#include <cstdint>
#include <string>

#include "cipher/notifier.h"
#include "os/file_system.h"

// Decides whether a transform may start: the two paths name different files,
// both can be opened and no other program writes them, the key file is made
// read-only when asked, and the offset lies in 0 to 255. Returns true when the
// transform may start, false once the reason has been told.
bool CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                 bool make_key_read_only, Notifier& notifier);

// Decides whether a stream may be transformed from input_path to output_path
// (the names of the open streams, as /dev/stdin names standard input): the
// key file is not the input, and the output is neither the input nor the key
// file, which would never end or lose the key. Returns true when it may, false
// once the reason has been told.
bool CheckStreamInputs(const std::string& input_path, const std::string& key_path, const std::string& output_path,
                       Notifier& notifier);

// Whether the key file is the data file: the same path text (on Windows but
// for the case of ASCII letters), one file on disk under two names, or a
// file that looks like it under another number (os::FileStamp::LooksLike);
// unknown, with the system's reason, when the disk cannot say.
os::Sameness CompareInputs(const std::string& data_path, const std::string& key_path, os::Error* error);
