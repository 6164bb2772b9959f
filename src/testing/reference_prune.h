// The pruning pass as its step-by-step definition states it, for tests to hold the real pass to.
#pragma once

#include <vector>

#include "base/text.h"
#include "program/move_pruning.h"

/// The lines that the pruning pass leaves of `lines` under `markers`, found as the definition
/// says, step by step: examine the line at the position, delete the line before it where a run
/// of moves goes on, and step on unless a line was deleted.
std::vector<Text> StepByStepPrune(const std::vector<Text>& lines, const MarkerSet& markers);
