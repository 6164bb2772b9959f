#include "synthetic_program.h"

#include <cstdio>
#include <cstdlib>

namespace {

/// A small deterministic generator, so that every run measures the same program.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  /// A number from `low` to `high`, both included.
  int Between(int low, int high) { return low + static_cast<int>(Next() % (high - low + 1)); }

 private:
  uint32_t state_;
};

// Comments in Windows-1252, with umlauts, the degree and diameter signs and the euro sign.
constexpr const char* kComments[] = {
    "; Kontur %d \xD6"
    "ffnung \xD8 %d mm",
    "; Rohr %d \x96 Schr\xE4gschnitt %d\xB0",
    "; Teil %d: Au\xDF"
    "enkontur, L\xE4nge %d mm",
    "; Los %d \x80 Kosten %d",
};

class Writer {
 public:
  Writer(int64_t line_count, uint32_t seed) : remaining_(line_count), random_(seed) {
    out_.reserve(static_cast<size_t>(line_count) * 24);
  }

  bool Full() const { return remaining_ <= 0; }
  int64_t remaining() const { return remaining_; }

  /// Appends one line ended by CR LF, unless the program is complete.
  void Line(const char* format, auto... values) {
    if (Full()) return;
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, format, values...);
    out_.append(buffer, n);
    out_.append("\r\n");
    --remaining_;
  }

  /// One cut: positioning with the laser off (rotary moves there stay), then a laser-on
  /// stretch in which runs of rotary feed moves alternate with cuts along the tube; a few runs
  /// are long, most are short.
  void Contour(int number, bool strobe) {
    Line(kComments[number % 4], number, random_.Between(10, 360));
    Line("G00 X%d.%03d Y%d.%03d Z5.0", random_.Between(0, 800), random_.Between(0, 999),
         random_.Between(-200, 200), random_.Between(0, 999));
    int positioning = random_.Between(1, 3);
    for (int m = 0; m < positioning; ++m) FeedMove();
    if (!strobe) Line("FARCALL $STRGLOB1 \"LASER_ON\"");
    int runs = random_.Between(5, 40);
    for (int r = 0; r < runs && !Full(); ++r) {
      int moves = random_.Between(0, 24) == 0 ? random_.Between(10, 60) : random_.Between(1, 5);
      for (int m = 0; m < moves; ++m) FeedMove();
      CutMove();
    }
    if (!strobe) Line("FARCALL $STRGLOB1 \"LASER_OFF\"");
    Line("G00 Z50.0");
  }

  /// A cut along the tube; it ends a run of rotary moves.
  void CutMove() {
    int x = random_.Between(0, 80000);
    int y = random_.Between(-20000, 20000);
    if (random_.Between(0, 1) == 0) {
      Line("G01 X%d.%02d Y%d.%02d", x / 100, x % 100, y / 100, std::abs(y % 100));
    } else {
      Line("G01 X%d.%02d Y%d.%02d F%d", x / 100, x % 100, y / 100, std::abs(y % 100),
           random_.Between(8, 120) * 100);
    }
  }

  /// A rotary feed move; the tube's height follows the angle on many of them.
  void FeedMove() {
    angle_ = (angle_ + random_.Between(1, 900)) % 360000;
    int degrees = angle_ / 1000;
    int fraction = angle_ % 1000;
    int form = random_.Between(0, 9);
    if (form < 1) {
      Line("G01 A%d.%03d", degrees, fraction);
    } else if (form < 4) {
      Line("G01 A%d.%03d F%d", degrees, fraction, random_.Between(8, 120) * 100);
    } else {
      Line("G01 A%d.%03d Z%d.%03d F%d", degrees, fraction, random_.Between(0, 9),
           random_.Between(0, 999), random_.Between(8, 120) * 100);
    }
  }

  std::string Take() { return std::move(out_); }

 private:
  int64_t remaining_;
  Random random_;
  int angle_ = 0;
  std::string out_;
};

}  // namespace

std::string SyntheticProgram(int64_t line_count, uint32_t seed) {
  if (line_count <= 0) return std::string();
  // The last line is the program end; the body fills the rest.
  Writer writer(line_count - 1, seed);
  writer.Line("; Rotationsprogramm f\xFCr Rohrbearbeitung");
  writer.Line("G90 G71");
  // The last tenth of the program runs after the strobe line, where pruning never ends.
  int64_t strobe_from = line_count / 10;
  int number = 1;
  bool strobe = false;
  while (!writer.Full()) {
    if (!strobe && writer.remaining() <= strobe_from) {
      writer.Line("ActivateStrobeModule");
      strobe = true;
    }
    writer.Contour(number++, strobe);
  }
  std::string program = writer.Take();
  program.append("M30\r\n");
  return program;
}
