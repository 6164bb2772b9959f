// For tests: random NC program files in each of the four file encodings, made of the lines and
// line endings that matter to loading, pruning and saving.
#pragma once

#include <random>
#include <string>

#include "base/text.h"
#include "encoding/file_encoding.h"

/// The bytes of a random program file in `encoding`, byte-order mark included: marker lines of
/// both marker sets, move lines and near misses, empty lines, blanks, U+0000, non-ASCII text (a
/// surrogate pair and an unpaired surrogate among it), every kind of line ending and a last line
/// without one. Now and then the bytes are spoiled: a stray byte (ill-formed UTF-8, or UTF-16
/// out of step), an odd last byte, or nothing but random bytes after the mark.
inline std::string RandomProgramFile(std::mt19937& random, FileEncoding encoding) {
  static const TextView kLines[] = {
      u"FARCALL $STRGLOB1 \"LASER_ON\"",
      u"FARCALL $STRGLOB1 \"LASER_OFF\"",
      u"ActivateStrobeModule",
      u"M98 L20",
      u"M98 L21",
      u"G01 A1",
      u"N5 G01 A7.5 F900",
      u"G01 A",
      u"G01 A",
      u"G01 A2 (L\u00E4nge \u00D8 40 \u20AC)",
      u"G01A3",
      u"g01 a4",
      u"G00 X1",
      u"",
      u"%DSPNC3",
      u" %DSPNC3\t",
      u"\u00A0%DSPNC3",
      u"FARCALL $STRGLOB1 \"LASER_ON\" ",
      TextView(u"G01 A\0 9", 8),
      u"(\u4E2D \U0001D11E)",
      TextView(u"(\xD800)", 3),
      u"M30",
  };
  static const TextView kEndings[] = {u"\r\n", u"\r\n", u"\r\n", u"\n", u"\r", u"\n\r"};
  std::string bytes(ByteOrderMark(encoding));
  if (random() % 20 == 0) {
    for (size_t n = random() % 64; n > 0; --n) bytes.push_back(static_cast<char>(random()));
    return bytes;
  }
  Text text;
  if (random() % 4 == 0) text += u"%DSPNC3\r\n";
  for (size_t n = random() % 60; n > 0; --n) {
    text += kLines[random() % std::size(kLines)];
    if (n > 1 || random() % 3 != 0) text += kEndings[random() % std::size(kEndings)];
  }
  EncodeText(encoding, text, &bytes);
  if (random() % 10 == 0) {
    bytes.insert(bytes.begin() + random() % (bytes.size() + 1), static_cast<char>(random()));
  }
  if (random() % 10 == 0) bytes.push_back(static_cast<char>(random()));
  return bytes;
}
