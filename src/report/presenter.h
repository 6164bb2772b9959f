// How the outermost handler shows what it has to show.
#pragma once

#include <string>

#include "files/text.h"

/// Shows the failure report's box and the fallback box; each call returns once the user has
/// closed the box. Tests put a recorder in its place.
class Presenter {
 public:
  virtual ~Presenter() = default;
  virtual void ShowReport(const Text& text) = 0;
  virtual void ShowFallback(const std::string& text) = 0;
};
