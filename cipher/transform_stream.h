#pragma once

#include <cstdint>
#include <string>

#include "cipher/notifier.h"

// Enciphers or deciphers a stream: the file at input_path, or standard input
// for "-", to standard output, touching no file. The key may be neither the
// input nor the output, nor the input the output (CheckStreamInputs). A key
// shorter than the stream repeats its last byte, as in place. Every failure is
// told; returns true when the whole stream was written with the key as it was
// read.
bool TransformStream(const std::string& input_path, const std::string& key_path, std::uint8_t offset,
                     TransformDirection direction, Notifier& notifier);
