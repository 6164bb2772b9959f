// Thinning out the A-axis feed moves inside the stretches in which the laser is on.
#pragma once

#include "base/text.h"
#include "files/line_list.h"

/// The texts that decide the kind of a line.
struct MarkerSet {
  TextView move_pattern;
  TextView laser_on;
  TextView laser_off;
};

inline constexpr MarkerSet kDefaultMarkerSet = {u"G01 A", u"FARCALL $STRGLOB1 \"LASER_ON\"",
                                                u"FARCALL $STRGLOB1 \"LASER_OFF\""};
inline constexpr MarkerSet kDialectMarkerSet = {u"G01 A", u"M98 L20", u"M98 L21"};

/// The first line that selects the dialect marker set, once trimmed.
inline constexpr TextView kDialectHeader = u"%DSPNC3";

/// The line that opens pruning for good, under either marker set.
inline constexpr TextView kStrobeLine = u"ActivateStrobeModule";

/// The dialect marker set when the first line, trimmed of characters up to code 32 at both
/// ends, is the dialect header; the default marker set otherwise, also for an empty list.
const MarkerSet& SelectMarkerSet(const LineList& lines);

/// Which lines the pruning pass deletes: inside every pruning stretch (laser-on to the next
/// laser-off line, and the strobe line to the end), each run of consecutive move lines keeps
/// only its last line.
std::vector<bool> FindRedundantMoves(const LineList& lines, const MarkerSet& markers);

/// The pruning pass: deletes the lines that FindRedundantMoves finds, in linear time.
void PruneMoves(LineList& lines, const MarkerSet& markers);
