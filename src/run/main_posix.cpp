// The program's entry on POSIX systems, where the arguments come already split.
#include <vector>

#include "report/outermost_handler.h"
#include "report/process_end.h"
#include "run/command_line.h"
#include "run/run.h"

int main(int argc, char** argv) {
  EndProcess(RunInsideOutermostHandler([&] {
    std::vector<Text> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(TextFromNative(argv[i]));
    RunOnce(PathFromArguments(arguments));
  }));
}
