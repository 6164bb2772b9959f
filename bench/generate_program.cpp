// Writes a synthetic rotary-axis laser program: generate_program LINES PATH [SEED]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "synthetic_program.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s LINES PATH [SEED]\n", argv[0]);
    return 2;
  }
  int64_t lines = std::atoll(argv[1]);
  uint32_t seed = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 1;
  std::string program = SyntheticProgram(lines, seed);
  std::FILE* file = std::fopen(argv[2], "wb");
  if (!file || std::fwrite(program.data(), 1, program.size(), file) != program.size() ||
      std::fclose(file) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  std::printf("%lld lines, %zu bytes\n", static_cast<long long>(lines), program.size());
  return 0;
}
