#include "cipher/notifier.h"

Report ReportOf(Event event, const std::string& path, const std::string& data_path, const std::string& key_path,
                const os::Error& error) {
  Report report;
  report.event = event;
  report.path = path;
  report.data_path = data_path;
  report.key_path = key_path;
  report.error = error;
  return report;
}

Event OpenFailure(os::Opened how) {
  switch (how) {
    case os::Opened::kNotFound:
      return Event::kNotFound;
    case os::Opened::kFolder:
      return Event::kIsFolder;
    case os::Opened::kNotRegular:
      return Event::kNotRegularFile;
    case os::Opened::kLink:
      return Event::kIsLink;
    case os::Opened::kInUse:
      return Event::kInUse;
    case os::Opened::kOpen:
    case os::Opened::kFailed:
      break;
  }
  return Event::kCannotOpen;
}
