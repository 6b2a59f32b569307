#include "cipher/transform.h"

#include <algorithm>
#include <vector>

#include "cipher/format.h"
#include "cipher/key_stream.h"
#include "cipher/messages.h"
#include "cipher/progress.h"
#include "os/path_split.h"
#include "os/stop_request.h"

namespace {

// Large enough to run at the disk's pace, small enough for constant memory.
constexpr std::size_t kBlockSize = 1 << 20;

void Warn(os::Notifier& notifier, const char* format, const std::string& path, const char* caption) {
  notifier.Warning(Format(format, path.c_str()), caption);
}

// Reads exactly count bytes: a data file that ends early was changed by
// someone else since its length was taken.
bool ReadFully(os::InputFile& file, std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    std::int64_t got = file.Read(out, count);
    if (got <= 0) return false;
    out += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

// Fills the new working file with the transformed bytes of the data file and
// flushes it to disk. Reports its own failures.
bool WriteWorkingFile(os::OutputFile& working, const std::string& working_path,
                      const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                      TransformDirection direction, os::Notifier& notifier) {
  os::InputFile data;
  if (!data.Open(data_path)) {
    Warn(notifier, messages::kCouldNotOpen, data_path, messages::kReadCaption);
    return false;
  }
  os::InputFile key;
  if (!key.Open(key_path)) {
    Warn(notifier, messages::kCouldNotOpen, key_path, messages::kReadCaption);
    return false;
  }
  const std::int64_t length = FileLength(data);
  if (length < 0) {
    Warn(notifier, messages::kCouldNotRead, data_path, messages::kReadCaption);
    return false;
  }
  const std::int64_t step = ProgressStep(length);
  const os::PathParts parts = os::SplitPath(data_path);

  KeyStream keys(key, kBlockSize);
  std::vector<std::uint8_t> block(kBlockSize);
  std::vector<std::uint8_t> key_block(kBlockSize);
  for (std::int64_t i = 0; i < length;) {
    if (os::StopRequested()) {
      Warn(notifier, messages::kStopped, data_path, messages::kStoppedCaption);
      return false;
    }
    if (i % step == 0) {
      notifier.Title(ProgressTitle(parts.name, parts.extension, ProgressPercent(i, length)));
    }
    // A block never runs past the next title position.
    const std::int64_t next_title = (i / step + 1) * step;
    const std::size_t count = static_cast<std::size_t>(
        std::min({length - i, next_title - i, static_cast<std::int64_t>(kBlockSize)}));
    if (!ReadFully(data, block.data(), count)) {
      Warn(notifier, messages::kCouldNotRead, data_path, messages::kReadCaption);
      return false;
    }
    if (!keys.Next(key_block.data(), count)) {
      Warn(notifier, messages::kCouldNotRead, key_path, messages::kReadCaption);
      return false;
    }
    ShiftBytes(block.data(), key_block.data(), count, offset, direction);
    if (!working.Write(block.data(), count)) {
      Warn(notifier, messages::kCouldNotWrite, working_path, messages::kWriteCaption);
      return false;
    }
    i += static_cast<std::int64_t>(count);
  }

  data.Close();
  const std::int64_t written = working.Finish();
  const bool closed = working.Close();
  key.Close();
  if (written != length || !closed) {
    Warn(notifier, messages::kCouldNotWrite, working_path, messages::kWriteCaption);
    return false;
  }
  return true;
}

// The finished working file takes the data file's place.
bool ReplaceDataFile(const std::string& data_path, const std::string& working_path,
                     os::Notifier& notifier) {
  if (!os::RemoveFile(data_path)) {
    const std::string text = Format(messages::kCouldNotDelete, data_path.c_str());
    notifier.Warning(text, messages::kCouldNotDeleteCaption);
    notifier.Title(text);
    return false;
  }
  if (!os::RenameFile(working_path, data_path)) {
    const std::string text = Format(messages::kNameLeftAs, working_path.c_str());
    notifier.Warning(text, messages::kNameLeftAsCaption);
    notifier.Title(text);
    return false;
  }
  return true;
}

}  // namespace

void ShiftBytes(std::uint8_t* data, const std::uint8_t* key, std::size_t count, std::uint8_t offset,
                TransformDirection direction) {
  if (direction == TransformDirection::Encrypt) {
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(data[i] + key[i] + offset);
  } else {
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(data[i] - key[i] - offset);
  }
}

std::string WorkingPath(const std::string& data_path) {
  const std::string::size_type dot = data_path.find('.');
  std::string working = dot == std::string::npos ? data_path + "." : data_path.substr(0, dot + 1);
  return working + os::kWorkingSuffix;
}

std::int64_t FileLength(os::InputFile& stream) {
  const std::int64_t position = stream.Tell();
  if (position < 0) return -1;
  const std::int64_t length = stream.SeekToEnd();
  if (length < 0 || !stream.Seek(position)) return -1;
  return length;
}

bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, os::Notifier& notifier) {
  const std::string working_path = WorkingPath(data_path);
  if (working_path == data_path || working_path == key_path || os::SameFile(working_path, data_path) ||
      os::SameFile(working_path, key_path)) {
    Warn(notifier, messages::kWorkingFileIsInput, working_path, messages::kWorkingFileCaption);
    return false;
  }

  os::OutputFile working;
  switch (working.Create(working_path, data_path)) {
    case os::OutputFile::Created::kAlreadyExists:
      Warn(notifier, messages::kWorkingFileExists, working_path, messages::kWorkingFileCaption);
      return false;
    case os::OutputFile::Created::kFailed:
      Warn(notifier, messages::kCouldNotCreate, working_path, messages::kWorkingFileCaption);
      return false;
    case os::OutputFile::Created::kNew:
      break;
  }

  if (!WriteWorkingFile(working, working_path, data_path, key_path, offset, direction, notifier)) {
    working.Discard();
    return false;
  }
  return ReplaceDataFile(data_path, working_path, notifier);
}
