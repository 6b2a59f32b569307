#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cipher/notifier.h"
#include "os/file_system.h"

// Shifts each byte by its key byte plus the offset: up on Encrypt, down on
// Decrypt, modulo 256.
void ShiftBytes(std::uint8_t* data, const std::uint8_t* key, std::size_t count, std::uint8_t offset,
                TransformDirection direction);

// The working file's path: the data file's folder kept whole, its name cut
// after the name's first full stop, and the working suffix appended; a name
// without a full stop gets ".", then the suffix. C:\my.docs\report.txt gives
// C:\my.docs\report.1e9 (e with circumflex).
std::string WorkingPath(const std::string& data_path);

// The length of an open stream, leaving its position where it was; -1 when
// the stream cannot be positioned.
std::int64_t FileLength(os::InputFile& stream);

// Enciphers or deciphers the data file in place through the working file, with
// progress on the status line. The data path holds the whole original or the
// whole result at every instant: the working file replaces the data file in
// one step, once it holds all of the result on disk, and only if the data file
// and the key file are still as they were read. Every failure, an exception
// too, is told to the notifier, and a working file that did not replace the
// data file is removed (or the report says it could not be), unless the data
// file may not be replaced or the system refused the replacement: the result
// then stays at the working path. Returns true when the data path now holds
// the result.
bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, Notifier& notifier);

// Enciphers or deciphers a stream: the file at input_path, or standard input
// for "-", to standard output, touching no file. A key shorter than the
// stream repeats its last byte, as in place. Every failure is told; returns
// true when the whole stream was written with the key as it was read.
bool TransformStream(const std::string& input_path, const std::string& key_path, std::uint8_t offset,
                     TransformDirection direction, Notifier& notifier);
