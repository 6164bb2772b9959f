#include <unistd.h>

#include <vector>

#include "base/own_path.h"

Text OwnExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return Text();
    if (static_cast<size_t>(n) < buffer.size()) return TextFromNative({buffer.data(), size_t(n)});
    buffer.resize(buffer.size() * 2);
  }
}
