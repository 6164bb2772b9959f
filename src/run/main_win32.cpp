// The program's entry on Windows: a GUI program without a window, whose one argument comes from
// the whole command line split by our own rules.
#include <windows.h>

#include "report/outermost_handler.h"
#include "run/command_line.h"
#include "run/run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  PlatformMessageBoxes boxes;
  auto run = [] {
    RunOnce(PathFromCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW())));
  };
  ExitProcess(static_cast<UINT>(RunInsideOutermostHandler(run, boxes)));
}
