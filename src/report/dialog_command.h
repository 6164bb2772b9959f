// The desktop dialog programs that show the boxes where the platform has no box of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

/// The dialog programs, in the order of preference.
inline constexpr std::string_view kDialogPrograms[] = {"zenity", "kdialog", "xmessage"};

/// The command line, program name first, that makes `program` (one of kDialogPrograms) show a
/// box with `caption`, `text` and one OK button. Caption and text are UTF-8 and are passed as
/// plain text.
std::vector<std::string> DialogCommand(std::string_view program, const std::string& caption,
                                       const std::string& text);

/// Whether `program`, having ended by itself with `exit_status`, showed its box until the user
/// closed it, rather than failing to show it.
bool DialogShowedBox(std::string_view program, int exit_status);

/// What standard error gets where no box can be shown: `caption` on a line of its own, then
/// `text` (as DialogText gives it), ended by a line break.
std::string ConsoleReport(const std::string& caption, const std::string& text);

/// `text` in UTF-8 as a dialog shows it: every CR LF becomes one LF, the line break that the
/// dialog programs know.
std::string DialogText(TextView text);
