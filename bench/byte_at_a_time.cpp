// The transform done the way it was first described: buffered stdio, one fread
// or fwrite per byte. Only for comparison in bench/run.sh; it makes the same bytes, and
// flushes to disk at the end as vaultine does, so only the per-byte cost differs.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: byte_at_a_time DATA KEY OFFSET\n");
    return 2;
  }
  const std::string data_path = argv[1];
  const std::string working_path = data_path + ".work";
  const unsigned char offset = static_cast<unsigned char>(std::atoi(argv[3]));

  std::FILE* working = std::fopen(working_path.c_str(), "wb");
  std::FILE* data = std::fopen(data_path.c_str(), "rb");
  std::FILE* key = std::fopen(argv[2], "rb");
  if (working == nullptr || data == nullptr || key == nullptr) return 1;

  const off_t position = ftello(data);
  fseeko(data, 0, SEEK_END);
  const off_t length = ftello(data);
  fseeko(data, position, SEEK_SET);
  off_t step = length / 10;
  if (step == 0) step = 1;

  unsigned char data_byte = 0;
  unsigned char key_byte = 0;
  char title[300];
  for (off_t i = 0; i < length; ++i) {
    if (i % step == 0) {
      std::snprintf(title, sizeof title, "Working file %s %i%% done.", data_path.c_str(),
                    static_cast<int>(static_cast<double>(i) / static_cast<double>(length) * 100 + 1));
    }
    // A read at the end transfers nothing and leaves the byte as it was.
    (void)!std::fread(&data_byte, 1, 1, data);
    (void)!std::fread(&key_byte, 1, 1, key);
    data_byte = static_cast<unsigned char>(data_byte + key_byte + offset);
    std::fwrite(&data_byte, 1, 1, working);
  }
  std::fclose(data);
  std::fflush(working);
  fsync(fileno(working));
  std::fclose(working);
  std::fclose(key);
  if (std::remove(data_path.c_str()) != 0 || std::rename(working_path.c_str(), data_path.c_str()) != 0) return 1;
  return 0;
}
