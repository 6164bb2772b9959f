// The only thing a user ever sees of the system: a modal box.
#pragma once

#include <string>

#include "files/text.h"

/// Shows a modal box with an OK button and the error icon, and returns once the user closed it
/// (or at once where no box can be shown).
void ShowReportBox(const Text& text, const Text& caption);

/// Shows the plain fallback box, single-byte text, one OK button and no icon; returns once the
/// user closed it (or at once where no box can be shown).
void ShowFallbackBox(const std::string& text, const std::string& caption);
