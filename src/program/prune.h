// The pruning pass: the pruning rule fed the lines of a program, in either form it is held in
// (LineList or ProgramBytes).
#pragma once

#include "program/move_pruning.h"

/// The marker set that the first line of the program selects (see SelectMarkerSet in
/// move_pruning.h).
template <typename Form>
const MarkerSet& SelectMarkerSet(const Form& program);

/// The pruning pass: selects the marker set and deletes the lines that the pruning rule finds
/// redundant, in one pass over the lines.
template <typename Form>
void Prune(Form& program);
