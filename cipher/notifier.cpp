#include "cipher/notifier.h"

bool IsDone(Event event) { return event == Event::kAttributeNotKept || event == Event::kNotFlushed; }

Event OpenFailure(os::Opened how) {
  switch (how) {
    case os::Opened::kNotFound:
      return Event::kNotFound;
    case os::Opened::kFolder:
      return Event::kIsFolder;
    case os::Opened::kNotRegular:
      return Event::kNotRegularFile;
    case os::Opened::kInUse:
      return Event::kInUse;
    case os::Opened::kOpen:
    case os::Opened::kFailed:
      break;
  }
  return Event::kCannotOpen;
}
