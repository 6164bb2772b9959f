#include <windows.h>

#include "files/wide_win32.h"
#include "report/message_box.h"

void ShowReportBox(const Text& text, const Text& caption) {
  // MB_OK | MB_ICONERROR | MB_TASKMODAL: one button, the error icon, the thread's windows off.
  MessageBoxW(nullptr, Wide(text), Wide(caption), 0x2010);
}

void ShowFallbackBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}
