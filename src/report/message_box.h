// The only thing a user ever sees of the system: a modal box, or on POSIX, where none can be
// shown, the same text on standard error.
#pragma once

#include <string>

#include "base/text.h"

/// The failure report's box and the fallback box; each call returns once the user has closed the
/// box. Tests put a recorder in place of the platform's boxes.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void ShowReport(const Text& text) = 0;
  virtual void ShowFallback(const std::string& text) = 0;
};

/// The platform's modal boxes: the report box, captioned "Anwendungsfehler", with one OK button
/// and the error icon; the plain fallback box, captioned "Error", with single-byte text, one OK
/// button and no icon. On POSIX, where no box can be shown (no display, no dialog program, or one
/// that fails to start or ends abnormally), each writes the caption and the text to standard
/// error instead, in UTF-8, and returns at once; where the box is shown, nothing is written.
class PlatformMessageBoxes : public MessageBoxes {
 public:
  void ShowReport(const Text& text) override;
  void ShowFallback(const std::string& text) override;
};
