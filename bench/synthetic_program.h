// A large, realistic rotary-axis laser program for measuring the run.
#pragma once

#include <cstdint>
#include <string>

/// A program of exactly `line_count` lines in Windows-1252, every line ended by CR LF: contours
/// whose laser-on stretches hold long runs of "G01 A" feed moves, positioning moves and comments
/// between them, and a strobe section at the end. The same `seed` gives the same bytes.
std::string SyntheticProgram(int64_t line_count, uint32_t seed = 1);
