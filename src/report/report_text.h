// The texts of the failure report and of the fallback report.
#pragma once

#include <cstdint>
#include <string>

#include "base/messages.h"
#include "base/text.h"

/// The longest report text, in UTF-16 code units; a longer one is cut.
inline constexpr size_t kMaxReportLength = 1024;

/// The part of `module_path` after its last path separator. Both the backslash and the slash
/// count as separators, so that the rule is the same on every platform.
TextView ModuleName(TextView module_path);

/// The text of the failure report's box: the first line names the failure's `kind`, the module
/// and the location within it as 16 hexadecimal digits; the second gives `message` with a full
/// stop added unless it is empty or already ends with one. Nothing in the inputs is interpreted,
/// and the result is cut after kMaxReportLength code units.
Text ComposeReportText(TextView kind, TextView module_path, uint64_t relative_location,
                       TextView message);

/// The fallback box's text, "Runtime error NNN at XXXXXXXXXXXXXXXX": `status` in decimal and
/// `address` in hexadecimal, each right-aligned in its field.
std::string FallbackText(int status, uint64_t address);
