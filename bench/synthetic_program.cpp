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

// Comments in UTF-8, with umlauts, the degree and diameter signs, the en dash and the euro sign;
// each has a plain ASCII twin.
constexpr const char* kComments[][2] = {
    {"; Kontur %d \u00D6ffnung \u00D8 %d mm", "; Kontur %d Oeffnung D %d mm"},
    {"; Rohr %d \u2013 Schr\u00E4gschnitt %d\u00B0", "; Rohr %d - Schraegschnitt %d Grad"},
    {"; Teil %d: Au\u00DFenkontur, L\u00E4nge %d mm", "; Teil %d: Aussenkontur, Laenge %d mm"},
    {"; Los %d \u20AC Kosten %d", "; Los %d EUR Kosten %d"},
};

/// The code points of UTF-8 `text` (well-formed, up to U+FFFF).
std::u16string Utf16Of(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out.push_back(byte);
      i += 1;
    } else if (byte < 0xE0) {
      out.push_back(static_cast<char16_t>((byte & 0x1F) << 6 | (text[i + 1] & 0x3F)));
      i += 2;
    } else {
      out.push_back(static_cast<char16_t>((byte & 0x0F) << 12 | (text[i + 1] & 0x3F) << 6 |
                                          (text[i + 2] & 0x3F)));
      i += 3;
    }
  }
  return out;
}

/// `text` in the file encoding: Windows-1252 knows every character that the comments use.
std::string Encode(const std::string& text, SyntheticEncoding encoding) {
  std::string out;
  switch (encoding) {
    case SyntheticEncoding::kAnsi:
      for (char16_t c : Utf16Of(text)) {
        out.push_back(c == 0x20AC ? '\x80' : c == 0x2013 ? '\x96' : static_cast<char>(c));
      }
      return out;
    case SyntheticEncoding::kUtf8Ascii:
    case SyntheticEncoding::kUtf8Comments:
      return "\xEF\xBB\xBF" + text;
    case SyntheticEncoding::kUtf16Le:
      out = "\xFF\xFE";
      for (char16_t c : Utf16Of(text)) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
      }
      return out;
  }
  return out;
}

class Writer {
 public:
  Writer(int64_t line_count, bool ascii, uint32_t seed)
      : remaining_(line_count), ascii_(ascii), random_(seed) {
    out_.reserve(static_cast<size_t>(line_count) * 24);
  }

  bool Full() const { return remaining_ <= 0; }
  int64_t remaining() const { return remaining_; }

  /// Appends one line ended by CR LF, unless the program is complete; every twentieth line is
  /// a comment.
  void Line(const char* format, auto... values) {
    if (Full()) return;
    if ((written_ + 1) % 20 == 0) {
      int number = static_cast<int>(written_ / 20);
      Append(kComments[number % 4][ascii_ ? 1 : 0], number, random_.Between(10, 360));
      if (Full()) return;
    }
    Append(format, values...);
  }

  /// One cut: positioning with the laser off (rotary moves there stay), then a laser-on
  /// section in which runs of rotary feed moves alternate with cuts along the tube; a few runs
  /// are long, most are short.
  void Contour(bool strobe) {
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
  void Append(const char* format, auto... values) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, format, values...);
    out_.append(buffer, n);
    out_.append("\r\n");
    --remaining_;
    ++written_;
  }

  int64_t remaining_;
  bool ascii_;
  int64_t written_ = 0;
  Random random_;
  int angle_ = 0;
  std::string out_;
};

}  // namespace

std::string SyntheticProgram(int64_t line_count, SyntheticEncoding encoding, uint32_t seed) {
  if (line_count <= 0) return Encode("", encoding);
  // The last line is the program end; the body fills the rest.
  Writer writer(line_count - 1, encoding == SyntheticEncoding::kUtf8Ascii, seed);
  writer.Line("; Rotationsprogramm");
  writer.Line("G90 G71");
  // The last tenth of the program runs after the strobe line, where pruning never ends.
  int64_t strobe_from = line_count / 10;
  bool strobe = false;
  while (!writer.Full()) {
    if (!strobe && writer.remaining() <= strobe_from) {
      writer.Line("ActivateStrobeModule");
      strobe = true;
    }
    writer.Contour(strobe);
  }
  std::string program = writer.Take();
  program.append("M30\r\n");
  return Encode(program, encoding);
}

const char* SyntheticEncodingName(SyntheticEncoding encoding) {
  switch (encoding) {
    case SyntheticEncoding::kAnsi:
      return "ANSI";
    case SyntheticEncoding::kUtf8Ascii:
      return "UTF-8 ASCII";
    case SyntheticEncoding::kUtf8Comments:
      return "UTF-8 comments";
    case SyntheticEncoding::kUtf16Le:
      return "UTF-16 LE";
  }
  return "?";
}
