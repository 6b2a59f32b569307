#include "cli/file_rules.h"

#include <cerrno>
#include <chrono>

#include "cli/messages.h"
#include "os/posix.h"

namespace {

std::string OtherLinks(std::uint64_t links) {
  const unsigned long others = static_cast<unsigned long>(links - 1);
  return std::to_string(others) + " other link" + (others == 1 ? "" : "s");
}

}  // namespace

RecordVerdict JudgeRecord(const Record& record, bool describes, const Options& options, const Key& key,
                          std::int64_t length) {
  const bool encrypting = options.direction == TransformDirection::kEncrypt;
  const bool force = options.force;
  const auto made_with_key = [&] { return MadeWith(record.layers.back(), key, length, options.offset); };
  if (!describes) {
    // Written or touched since (or copied without its time): the record no
    // longer tells what the file holds, but one that says encrypted is a
    // warning all the same.
    if (!record.Encrypted() || force) return {};
    if (encrypting) {
      return {RecordVerdict::kRefuse,
              "its record says encrypted, but the file changed since the record was made; left as it is (-f "
              "encrypts it all the same)"};
    }
    if (made_with_key()) return {};
    return {RecordVerdict::kRefuse,
            "its record, made before the file last changed, says it was encrypted with another key file or "
            "offset; left as it is (-f decrypts it all the same)"};
  }
  if (encrypting) {
    if (record.Encrypted() && !force) return {RecordVerdict::kSkip, "already encrypted; -f encrypts it again"};
    // Enciphering a file deciphered past plain undoes that, with its key only.
    if (record.past_plain && !made_with_key()) {
      return {RecordVerdict::kRefuse, "was decrypted with another key file or offset; left as it is"};
    }
    return {};
  }
  if (!record.Encrypted()) {
    if (force) return {};
    return {RecordVerdict::kSkip, "not encrypted, as its record says; left as it is (-f decrypts it all the same)"};
  }
  if (!made_with_key()) return {RecordVerdict::kRefuse, "was encrypted with another key file or offset; left as it is"};
  return {};
}

FileRules::~FileRules() {
  if (claimed_) command_.done.Release(identity_, result_.done, result_stamp_);
}

void FileRules::Say(const std::string& what, bool failed) {
  result_.lines.push_back("vaultine: " + job_.shown + ": " + what);
  result_.failed = result_.failed || failed;
}

void FileRules::NoRecords(const os::Error& why) {
  if (command_.records_not_kept.exchange(true)) return;
  Say("its disk keeps no record of what is done to its files (" + why.text +
          "): mind not to transform them twice",
      false);
}

RunHooks::Admission FileRules::Admit(const os::InputFile& data) {
  const os::FileFacts& facts = data.facts();
  const char* done_word = DoneWord(command_.options.direction);
  os::FileKey key;
  os::Error error;
  if (os::KeyIn(*job_.folder, job_.name, facts, &key, &error) == os::Keyed::kFailed) {
    Say("cannot tell whether it is the key file, or one this call has already " + std::string(done_word) + " (" +
            error.text + "); left as it is",
        true);
    return Admission::kLeave;
  }
  if (key.IsSameFileAs(command_.key_identity) || facts.stamp.LooksLike(command_.key.as_read())) {
    // In a walk the key is one more file met, not one the user named.
    if (job_.walked) {
      Say("skipped: it is the key file", false);
    } else {
      result_.reports.push_back(ReportOf(Event::kSameFile, command_.key.path(), job_.shown, command_.key.path()));
      result_.failed = true;
    }
    return Admission::kLeave;
  }
  identity_ = {facts, key.listed};
  std::string earlier;
  switch (command_.done.Take(identity_, job_.shown, &earlier)) {
    case DoneFiles::Claim::kDone:
      Say("the same file as " + earlier + ", which this call has already " + done_word + "; left as it is", false);
      return Admission::kLeave;
    case DoneFiles::Claim::kTried:
      // Refused, failed, or left by its record: the earlier name was told why.
      Say("the same file as " + earlier + ", which this call has left as it is", false);
      return Admission::kLeave;
    case DoneFiles::Claim::kAgain:
      return Admission::kAgain;
    case DoneFiles::Claim::kMine:
      claimed_ = true;
      break;
  }
  // The other names of a file with hard links would keep the old bytes.
  if (facts.links > 1 && !command_.options.force) {
    Say("has " + OtherLinks(facts.links) +
            ", whose names would keep the old bytes; left as it is (-f transforms it all the same)",
        true);
    return Admission::kLeave;
  }
  length_ = facts.stamp.size;
  replaced_modified_ = facts.stamp.modified;
  return ReadRecord(data);
}

// Open for writing by this very command (another name of the file, at work
// in another worker, or its result, renamed a moment ago and not yet closed):
// looked at again once that run is over.
RunHooks::Admission FileRules::InUse(const os::FileFacts& facts) {
  return command_.done.AwaitIfAtWork({facts, ""}) ? Admission::kAgain : Admission::kGo;
}

os::Note ReadRecordOf(const os::InputFile& file, Record* record, os::Error* error, std::string* why) {
  std::string text;
  const os::Note note = os::ReadNote(file, kRecordNote, &text, error);
  if (note == os::Note::kFailed) {
    *why = "cannot read its record (" + error->text + "); left as it is";
  } else if (note == os::Note::kFound && !ParseRecord(text, record)) {
    *why = "carries a note user." + std::string(kRecordNote) + " that is no record of this version's; left as it is";
    return os::Note::kFailed;
  }
  return note;
}

RunHooks::Admission FileRules::ReadRecord(const os::InputFile& data) {
  os::Error error;
  std::string why;
  switch (ReadRecordOf(data, &record_, &error, &why)) {
    case os::Note::kNotKept:
      NoRecords(error);
      return Admission::kGo;
    case os::Note::kNone:
      return Admission::kGo;
    case os::Note::kFailed:
      Say(why, true);
      return Admission::kLeave;
    case os::Note::kFound:
      break;
  }
  has_record_ = record_.Describes(data.facts().stamp);
  stale_note_ = !has_record_;
  const RecordVerdict verdict = JudgeRecord(record_, has_record_, command_.options, command_.key, length_);
  if (verdict.what == RecordVerdict::kGo) {
    // Forced past a record out of date that says encrypted: touched since,
    // or plain text written over it, nobody can tell which.
    over_unknown_ = stale_note_ && record_.Encrypted() && Encrypting();
    return Admission::kGo;
  }
  Say(verdict.why, verdict.what == RecordVerdict::kRefuse);
  return Admission::kLeave;
}

bool FileRules::Seal(os::WorkingFile& working) {
  Record next = has_record_ ? record_ : Record();
  next.over_unknown = next.over_unknown || over_unknown_;
  // A layer comes off where this run undoes the last one; else one goes on.
  const bool undoes = !next.layers.empty() && next.past_plain == Encrypting();
  // The last layer off a file whose record knows nothing beneath it.
  const bool to_unknown = undoes && next.layers.size() == 1 && next.over_unknown;
  const bool recorded = (undoes || Encrypting() || has_record_) && !to_unknown;
  // The time of the run, taken back to a whole even second at least two
  // before now: a copy onto a disk that keeps coarser times (whole seconds,
  // FAT's two) keeps it, and so its record; and a write after this one, even
  // within the same tick of the clock, changes it.
  if (recorded) {
    using namespace std::chrono;
    constexpr std::int64_t kSecond = 1000000000;
    const std::int64_t now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    std::int64_t time = (now - 2) / 2 * 2 * kSecond;
    // Never the time of the file it replaces: a copy of that file put back
    // with its time (cp -p), its record kept, would pass for the result.
    if (time == replaced_modified_) time -= 2 * kSecond;
    if (!working.SetModified(time)) {
      Say("cannot set its time for its record (" + os::LastError().text + "); the file is unchanged", true);
      return false;
    }
  }
  result_stamp_ = working.finished();
  // Once renamed, the result is this file under its number: another name
  // that opens it meanwhile waits for this run.
  if (claimed_) command_.done.Expect(identity_, result_stamp_);
  if (to_unknown) {
    result_.done_remark = "; what it held before its record went out of date is not known: it may be encrypted still";
    result_.remark_needed = true;
  } else if (undoes) {
    next.layers.pop_back();
    if (next.layers.empty()) next.past_plain = false;
    if (!Encrypting() && !next.layers.empty()) {
      const std::size_t left = next.layers.size();
      result_.done_remark = "; its record says it is encrypted " +
                            (left == 1 ? std::string("once more") : std::to_string(left) + " more times");
    }
  } else if (recorded) {
    // A layer on: enciphered, or deciphered past plain (forced), which
    // enciphering with the same key takes off again.
    next.past_plain = !Encrypting();
    next.layers.push_back(NewLayer(command_.key, length_, command_.options.offset));
    if (next.layers.back().fingerprint.empty()) {
      Say("cannot take the fingerprint of the key for its record; the file is unchanged", true);
      return false;
    }
  }
  if (!recorded) {
    // Deciphered without a record (or past all it knew): what it holds now
    // is not known either. A note the file carried, which told nothing more,
    // does not go with it.
    if (!stale_note_ && !to_unknown) return true;
    os::Error error;
    if (os::RemoveNote(working, kRecordNote, &error) != os::Note::kFailed) return true;
    Say("cannot remove the old note user." + std::string(kRecordNote) + " (" + error.text + "); the file is unchanged",
        true);
    return false;
  }
  next.size = result_stamp_.size;
  next.modified = result_stamp_.modified;
  os::Error error;
  switch (os::WriteNote(working, kRecordNote, FormatRecord(next), &error)) {
    case os::Note::kFound:
      return true;
    case os::Note::kNotKept:
      NoRecords(error);
      return true;
    case os::Note::kNone:
    case os::Note::kFailed:
      break;
  }
  // A disk that keeps records, but has no room for this one (the file's
  // other attributes fill the room, or its layers do): done without it, the
  // file would be done twice on a rerun, or its record left behind its bytes.
  if (error.code == ENOSPC || error.code == E2BIG) {
    Say("there is no room for its record (" + error.text + "); the file is unchanged", true);
    return false;
  }
  Say("cannot record what is done to it (" + error.text + "); the file is unchanged", true);
  return false;
}
