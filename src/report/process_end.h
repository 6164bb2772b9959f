// How the process ends.
#pragma once

/// Ends the process with `status`, at once.
[[noreturn]] void EndProcess(int status);
