// The pruning pass: the pruning rule fed the lines of a program, in either form it is held in.
#pragma once

#include "program/line_list.h"
#include "program/move_pruning.h"
#include "program/program_bytes.h"

/// The marker set that the first line of the program selects (see SelectMarkerSet in
/// move_pruning.h).
const MarkerSet& SelectMarkerSet(const LineList& lines);
const MarkerSet& SelectMarkerSet(const ProgramBytes& program);

/// The pruning pass: selects the marker set and deletes the lines that the pruning rule finds
/// redundant, in one pass over the lines.
void Prune(LineList& lines);
void Prune(ProgramBytes& program);
