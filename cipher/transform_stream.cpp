#include "cipher/transform_stream.h"

#include <memory>

#include "cipher/input_checks.h"
#include "cipher/key_stream.h"
#include "cipher/transform.h"
#include "os/file_system.h"
#include "os/posix.h"
#include "os/stop_request.h"

bool TransformStream(const std::string& input_path, const std::string& key_path, std::uint8_t offset,
                     TransformDirection direction, Notifier& notifier, const StreamAdmission& admit) {
  const bool standard_input = input_path == "-";
  if (!CheckStreamInputs(standard_input ? os::kStandardInputName : input_path, key_path,
                         os::kStandardOutputName, notifier)) {
    return false;
  }
  bool output_begun = false;
  const auto tell = [&](Event event, const std::string& path, const os::Error& error = {}) {
    // A call that waited (a FIFO, a pipe) and was cut short by a stop is the
    // stop.
    Report report = os::StopRequested() ? ReportOf(Event::kStopped, input_path, input_path, key_path)
                                        : ReportOf(event, path, input_path, key_path, error);
    report.direction = direction;
    report.stream = true;
    report.output_begun = output_begun;
    notifier.Tell(report);
    return false;
  };
  os::InputFile input;
  if (standard_input) {
    input.UseStandardInput();
  } else {
    const os::Probed opened = input.OpenStream(input_path);
    if (!opened.ok()) return tell(OpenFailure(opened.how), input_path, opened.error);
  }
  Key key;
  Event refused = Event::kCannotOpen;
  os::Error error;
  if (!key.Open(key_path, &refused, &error)) return tell(refused, key_path, error);
  if (admit && !admit(input, key)) return false;
  KeyStream keys(key);
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kBlockSize]);
  const std::unique_ptr<std::uint8_t[]> key_block(new std::uint8_t[kBlockSize]);
  for (;;) {
    if (os::StopRequested()) return tell(Event::kStopped, input_path);
    const std::int64_t got = input.ReadFully(block.get(), kBlockSize);
    if (got < 0) return tell(Event::kCannotRead, input_path, os::LastError());
    if (got == 0) break;
    switch (keys.Next(key_block.get(), static_cast<std::size_t>(got))) {
      case Key::Read::kDone:
        break;
      case Key::Read::kFailed:
        return tell(Event::kCannotRead, key_path, os::LastError());
      case Key::Read::kChanged:
        return tell(Event::kKeyChanged, key_path);
    }
    ShiftBytes(block.get(), key_block.get(), static_cast<std::size_t>(got), offset, direction);
    if (!os::WriteStandardOutput(block.get(), static_cast<std::size_t>(got))) {
      return tell(Event::kCannotWriteOutput, os::kStandardOutputName, os::LastError());
    }
    output_begun = true;
  }
  if (!key.StillAsRead()) return tell(Event::kKeyChanged, key_path);
  return true;
}
