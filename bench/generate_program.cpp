// Writes a synthetic rotary-axis laser program:
//   generate_program LINES PATH [ansi|utf8-ascii|utf8|utf16le] [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "synthetic_program.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s LINES PATH [ansi|utf8-ascii|utf8|utf16le] [SEED]\n", argv[0]);
    return 2;
  }
  int64_t lines = std::atoll(argv[1]);
  SyntheticEncoding encoding = SyntheticEncoding::kAnsi;
  if (argc > 3) {
    std::string name = argv[3];
    if (name == "utf8-ascii") encoding = SyntheticEncoding::kUtf8Ascii;
    if (name == "utf8") encoding = SyntheticEncoding::kUtf8Comments;
    if (name == "utf16le") encoding = SyntheticEncoding::kUtf16Le;
  }
  uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1;
  std::string program = SyntheticProgram(lines, encoding, seed);
  std::FILE* file = std::fopen(argv[2], "wb");
  if (!file || std::fwrite(program.data(), 1, program.size(), file) != program.size() ||
      std::fclose(file) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  std::printf("%lld lines, %zu bytes, %s\n", static_cast<long long>(lines), program.size(),
              SyntheticEncodingName(encoding));
  return 0;
}
