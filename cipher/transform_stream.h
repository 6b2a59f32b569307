#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cipher/key_stream.h"
#include "cipher/notifier.h"
#include "os/file_system.h"

// Enciphers or deciphers a stream: the file at input_path, or standard input
// for "-", to standard output, touching no file. The key may be neither the
// input nor the output, nor the input the output (CheckStreamInputs). A key
// shorter than the stream repeats its last byte, as in place. Every failure is
// told; returns true when the whole stream was written with the key as it was
// read. admit, once the input and the key are open and before a byte is
// read, may leave the stream unwritten: false, having said why itself.
using StreamAdmission = std::function<bool(const os::InputFile& input, const Key& key)>;
bool TransformStream(const std::string& input_path, const std::string& key_path, std::uint8_t offset,
                     TransformDirection direction, Notifier& notifier, const StreamAdmission& admit = nullptr);
