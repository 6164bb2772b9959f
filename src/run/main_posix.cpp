// The program's entry on POSIX systems, where the arguments come already split.
#include <unistd.h>

#include <vector>

#include "report/outermost_handler.h"
#include "run/command_line.h"
#include "run/run.h"

int main(int argc, char** argv) {
  auto run = [&] {
    std::vector<Text> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(TextFromNative(argv[i]));
    RunOnce(PathFromArguments(arguments));
  };
  PlatformMessageBoxes boxes;
  int status = RunInsideOutermostHandler(run, boxes);
  // A report on standard error went out unbuffered, so there is nothing to flush; objects are
  // released by the end of the process itself.
  _exit(status);
}
