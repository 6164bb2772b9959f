#include <windows.h>

#include "report/process_end.h"

void EndProcess(int status) { ExitProcess(static_cast<UINT>(status)); }
