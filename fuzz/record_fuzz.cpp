// A note handed in as a record is read only when it is one this version
// writes: what it reads, written again, reads back the same, and an
// encrypted or decrypted record holds at least one layer of full size.

#include "cli/record.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Record record;
  if (!ParseRecord(Text(data, size), &record)) return 0;
  REQUIRE(record.size >= 0);
  REQUIRE(record.layers.empty() == (!record.past_plain && !record.Encrypted()));
  REQUIRE(!record.over_unknown || record.Encrypted());
  for (const Record::Layer& layer : record.layers)
    REQUIRE(layer.salt.size() + layer.fingerprint.size() == 16);
  const std::string written = FormatRecord(record);
  Record again;
  REQUIRE(ParseRecord(written, &again));
  REQUIRE(FormatRecord(again) == written);
  REQUIRE(again.size == record.size && again.modified == record.modified &&
          again.past_plain == record.past_plain && again.over_unknown == record.over_unknown &&
          again.layers.size() == record.layers.size());
  return 0;
}
