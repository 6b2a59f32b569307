#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "os/file_system.h"
#include "os/notifier.h"

enum class TransformDirection { Encrypt, Decrypt };

// Shifts each byte by its key byte plus the offset: up on Encrypt, down on
// Decrypt, modulo 256.
void ShiftBytes(std::uint8_t* data, const std::uint8_t* key, std::size_t count, std::uint8_t offset,
                TransformDirection direction);

// The data path cut after its first full stop, with the working suffix
// appended; a path without any full stop gets ".", then the suffix.
std::string WorkingPath(const std::string& data_path);

// The length of an open stream, leaving its position where it was; -1 when
// the stream cannot be positioned.
std::int64_t FileLength(os::InputFile& stream);

// Enciphers or deciphers the data file in place through the working file, with
// progress in the title line. Every failure is shown to the user; the data file
// is deleted only once the working file holds all of its transformed bytes.
// Returns true when the data file now holds the result.
bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, os::Notifier& notifier);
