#include "cipher/transform.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "cipher/format.h"
#include "cipher/key_stream.h"
#include "cipher/messages.h"
#include "cipher/progress.h"
#include "cipher/path_split.h"
#include "os/stop_request.h"

namespace {

// Large enough to run at the disk's pace, small enough for constant memory.
constexpr std::int64_t kBlockSize = 1 << 20;

// One run: what it was asked to do and whom it tells.
struct Job {
  const std::string& data_path;
  const std::string& key_path;
  const std::string working_path;
  std::uint8_t offset;
  TransformDirection direction;
  Notifier& notifier;

  void Warn(const char* format, const std::string& path, const char* caption) const {
    notifier.Warning(Format(format, path.c_str()), caption);
  }
  // For the texts that end with the reason: the system's, taken at once, or
  // one of the engine's own.
  void Fail(const char* format, const std::string& path, const char* caption,
            const std::string& reason = os::LastErrorText()) const {
    notifier.Warning(Format(format, path.c_str(), reason.c_str()), caption);
  }
  // The failures of the last step stay in the title line too.
  void WarnInTitle(const char* format, const std::string& path, const char* caption) const {
    const std::string text = Format(format, path.c_str());
    notifier.Warning(text, caption);
    notifier.Title(text);
  }
};

// Not zero-filled first, so that a small file costs no more than its size.
std::unique_ptr<std::uint8_t[]> Buffer(std::int64_t size) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(size)]);
}

// Writes the transformed bytes of the data file to the working file, with
// progress in the title line. Reports its own failures.
bool WriteTransformed(const Job& job, os::InputFile& data, std::int64_t length, KeyStream& keys,
                      os::WorkingFile& working) {
  const std::int64_t step = ProgressStep(length);
  const PathParts parts = SplitPath(job.data_path);
  const std::int64_t buffer_size = std::max<std::int64_t>(1, std::min(length, kBlockSize));
  const std::unique_ptr<std::uint8_t[]> block = Buffer(buffer_size);
  const std::unique_ptr<std::uint8_t[]> key_block = Buffer(buffer_size);
  for (std::int64_t i = 0; i < length;) {
    if (os::StopRequested()) {
      job.Warn(messages::kStopped, job.data_path, messages::kStoppedCaption);
      return false;
    }
    if (i % step == 0) {
      job.notifier.Title(ProgressTitle(parts.name, parts.extension, ProgressPercent(i, length)));
    }
    // A block never runs past the next title position.
    const std::int64_t next_title = (i / step + 1) * step;
    const std::int64_t count = std::min({length - i, next_title - i, buffer_size});
    const std::int64_t got = data.ReadFully(block.get(), static_cast<std::size_t>(count));
    if (got < 0) {
      job.Fail(messages::kCouldNotRead, job.data_path, messages::kReadCaption);
      return false;
    }
    if (got < count) {  // cut short by another program since its length was taken
      job.Warn(messages::kDataChanged, job.data_path, messages::kChangedCaption);
      return false;
    }
    switch (keys.Next(key_block.get(), static_cast<std::size_t>(count))) {
      case KeyStream::Read::kDone:
        break;
      case KeyStream::Read::kFailed:
        job.Fail(messages::kCouldNotRead, job.key_path, messages::kReadCaption);
        return false;
      case KeyStream::Read::kChanged:
        job.Fail(messages::kCouldNotRead, job.key_path, messages::kReadCaption, messages::kChangedWhileRead);
        return false;
    }
    ShiftBytes(block.get(), key_block.get(), static_cast<std::size_t>(count), job.offset, job.direction);
    if (!working.Write(block.get(), static_cast<std::size_t>(count))) {
      job.Fail(messages::kCouldNotWrite, job.working_path, messages::kWriteCaption);
      return false;
    }
    i += count;
  }
  return true;
}

// The finished working file takes the data file's place, or says why not.
bool ReplaceDataFile(const Job& job, os::WorkingFile& working, const os::FileStamp& data_as_read) {
  switch (working.Replace(job.data_path, data_as_read)) {
    case os::WorkingFile::Replaced::kDone:
      return true;
    case os::WorkingFile::Replaced::kDataReadOnly:
      working.Keep();
      job.WarnInTitle(messages::kCouldNotDelete, job.data_path, messages::kCouldNotDeleteCaption);
      return false;
    case os::WorkingFile::Replaced::kFailed:
      working.Keep();
      job.WarnInTitle(messages::kNameLeftAs, job.working_path, messages::kNameLeftAsCaption);
      return false;
    case os::WorkingFile::Replaced::kDataChanged:
      job.Warn(messages::kDataChanged, job.data_path, messages::kChangedCaption);
      return false;
    case os::WorkingFile::Replaced::kWorkingChanged:
      job.Warn(messages::kWorkingFileChanged, job.working_path, messages::kChangedCaption);
      return false;
  }
  return false;
}

// An empty key protects nothing. A key whose last byte is not where its
// length says is no file of bytes but one the system makes anew at each read
// (/proc, /sys): it could never decipher the file.
bool KeyHoldsWhatItClaims(os::InputFile& key, std::int64_t length) {
  std::uint8_t last;
  return length > 0 && key.Seek(length - 1) && key.Read(&last, 1) == 1 && key.Seek(0);
}

bool TransformInPlace(const Job& job) {
  const std::string& working_path = job.working_path;
  if (working_path == job.data_path || working_path == job.key_path || os::SameFile(working_path, job.data_path) ||
      os::SameFile(working_path, job.key_path)) {
    job.Warn(messages::kWorkingFileIsInput, working_path, messages::kWorkingFileCaption);
    return false;
  }

  os::Folder folder;
  os::InputFile data;
  if (!folder.OpenFolderOf(job.data_path) || !data.OpenIn(folder, job.data_path)) {
    job.Fail(messages::kCouldNotOpen, job.data_path, messages::kReadCaption);
    return false;
  }
  const os::FileStamp data_as_read = data.Stamp();
  const std::int64_t length = FileLength(data);
  if (length < 0) {
    job.Fail(messages::kCouldNotRead, job.data_path, messages::kReadCaption);
    return false;
  }
  os::InputFile key;
  if (!key.Open(job.key_path)) {
    job.Fail(messages::kCouldNotOpen, job.key_path, messages::kReadCaption);
    return false;
  }
  const std::int64_t key_length = FileLength(key);
  if (!KeyHoldsWhatItClaims(key, key_length)) {
    job.Warn(messages::kKeyUnusable, job.key_path, messages::kKeyUnusableCaption);
    return false;
  }

  os::WorkingFile working(folder);
  switch (working.Create(working_path, data)) {
    case os::WorkingFile::Created::kAlreadyExists:
      job.Warn(messages::kWorkingFileExists, working_path, messages::kWorkingFileCaption);
      return false;
    case os::WorkingFile::Created::kFailed:
      job.Fail(messages::kCouldNotCreate, working_path, messages::kWorkingFileCaption);
      return false;
    case os::WorkingFile::Created::kNew:
      break;
  }
  KeyStream keys(key, key_length);
  if (!WriteTransformed(job, data, length, keys, working)) return false;
  const std::int64_t finished = working.Finish(data);
  if (finished < 0) {
    job.Fail(messages::kCouldNotWrite, working_path, messages::kWriteCaption);
    return false;
  }
  if (finished != length) {
    job.Fail(messages::kCouldNotWrite, working_path, messages::kWriteCaption, messages::kCutShort);
    return false;
  }
  data.Close();  // Windows replaces no file that is still open
  return ReplaceDataFile(job, working, data_as_read);
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
  const std::string::size_type dot = data_path.find('.', FileNameStart(data_path));
  const std::string working = dot == std::string::npos ? data_path + "." : data_path.substr(0, dot + 1);
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
                   TransformDirection direction, Notifier& notifier) {
  try {
    return TransformInPlace({data_path, key_path, WorkingPath(data_path), offset, direction, notifier});
  } catch (const std::exception& error) {
    // The working file is gone with the stack; the data file was not replaced.
    notifier.Warning(Format(messages::kUnexpected, data_path.c_str(), error.what()), messages::kUnexpectedCaption);
    return false;
  }
}
