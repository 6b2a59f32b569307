#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <stdexcept>

namespace {

void Put(const std::string& path, const Bytes& bytes, const char* mode) {
  std::FILE* file = OpenStream(path, mode);
  if (file == nullptr) throw std::runtime_error("cannot create " + path);
  std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (written != bytes.size()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteBytes(const std::string& path, const Bytes& bytes) { Put(path, bytes, "wb"); }
void AppendBytes(const std::string& path, const Bytes& bytes) { Put(path, bytes, "ab"); }

Bytes ReadBytes(const std::string& path) {
  std::FILE* file = OpenStream(path, "rb");
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  Bytes bytes;
  std::uint8_t buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  return bytes;
}

bool FileExists(const std::string& path) {
  std::FILE* file = OpenStream(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

Bytes RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

Bytes Repeat(std::uint8_t byte, std::size_t count) { return Bytes(count, byte); }

Bytes Expected(const Bytes& data, const Bytes& key, std::uint8_t offset, TransformDirection direction) {
  Bytes out(data.size());
  std::uint8_t key_byte = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i < key.size()) key_byte = key[i];
    int shift = (key_byte + offset) % 256;
    int value = direction == TransformDirection::kEncrypt ? data[i] + shift : data[i] - shift + 256;
    out[i] = static_cast<std::uint8_t>(value % 256);
  }
  return out;
}

void ExpectOnly(const RecordingNotifier& notifier, Event event, const std::string& path) {
  ASSERT_EQ(notifier.reports.size(), 1u) << "told " << notifier.reports.size() << " things";
  EXPECT_EQ(static_cast<int>(notifier.reports[0].event), static_cast<int>(event));
  EXPECT_EQ(notifier.reports[0].path, path);
}
