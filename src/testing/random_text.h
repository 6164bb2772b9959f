// For tests of the code that goes through text a block of code units at a time: random texts
// whose line breaks and non-ASCII characters fall at every place in and across the blocks.
#pragma once

#include <iterator>
#include <random>

#include "base/text.h"

/// A random text of up to `max_length` code units, mostly ASCII, with line breaks, characters
/// of the upper half of Windows-1252, characters outside it, surrogates and U+0000.
inline Text RandomText(std::mt19937& random, size_t max_length) {
  static constexpr char16_t kUnits[] = {u'G',   u'0',   u' ',   u'A',   u'\r',
                                        u'\n',  u'\r',  u'\n',  0x00E4, 0x20AC,
                                        0x0081, 0x4E2D, 0xD83D, 0xDE00, 0x0000};
  Text text(random() % (max_length + 1), u'x');
  for (char16_t& unit : text) {
    if (random() % 4 == 0) unit = kUnits[random() % std::size(kUnits)];
  }
  return text;
}
