// The one call of the Windows code page services that can refuse the system's ANSI code page,
// through a pointer that starts out as the system's own function, so that a test can make it
// refuse.
#pragma once

#include <windows.h>

namespace code_page_calls {
/// GetCPInfo, as the code page services call it.
extern BOOL(WINAPI* GetCPInfo)(UINT code_page, LPCPINFO info);
}  // namespace code_page_calls
