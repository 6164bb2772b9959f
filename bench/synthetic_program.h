// A large, realistic rotary-axis laser program for measuring the run.
#pragma once

#include <cstdint>
#include <string>

/// How the synthetic program is written down.
enum class SyntheticEncoding {
  kAnsi,          ///< Windows-1252 without a mark, German comments
  kUtf8Ascii,     ///< UTF-8 with its mark, comments in plain ASCII
  kUtf8Comments,  ///< UTF-8 with its mark, German comments
  kUtf16Le,       ///< UTF-16 little-endian with its mark, German comments
};

/// A program of exactly `line_count` lines, every line ended by CR LF: contours whose laser-on
/// sections hold long runs of "G01 A" feed moves, positioning moves between them, a comment on
/// every twentieth line and a strobe section at the end. The same `seed` gives the same
/// program, whose lines differ between the encodings only in the comments' non-ASCII letters.
std::string SyntheticProgram(int64_t line_count,
                             SyntheticEncoding encoding = SyntheticEncoding::kAnsi,
                             uint32_t seed = 1);

/// A short name of `encoding`, for tables.
const char* SyntheticEncodingName(SyntheticEncoding encoding);
