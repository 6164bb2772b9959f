#include <windows.h>

#include "base/wide_win32.h"
#include "report/message_box.h"
#include "report/report_text.h"

void PlatformMessageBoxes::ShowReport(const Text& text) {
  // Task-modal: every top-level window of the thread is disabled while the box is open.
  MessageBoxW(nullptr, Wide(text), Wide(kReportCaption), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void PlatformMessageBoxes::ShowFallback(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), kFallbackCaption, MB_OK);
}
