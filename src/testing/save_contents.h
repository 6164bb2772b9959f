// The contents that the fault tests save over a program: each new content differs from the old
// on every line, so that a write cut part way leaves a file that equals neither: a torn write
// cannot pass for the old program or the new.
#pragma once

#include <string>

/// `count` lines, each `before`, its number and `after`.
inline std::string NumberedLines(int count, const std::string& before, const std::string& after) {
  std::string program;
  for (int i = 0; i < count; ++i) program += before + std::to_string(i) + after + "\r\n";
  return program;
}

/// The program as it lies on disk before the save.
inline const std::string kOldProgram = NumberedLines(300, "G01 A", "");
/// A new content shorter than the old one.
inline const std::string kShorterProgram = NumberedLines(80, "N", " G01 A0.5");
/// A new content longer than the old one.
inline const std::string kLongerProgram = NumberedLines(400, "N", " G01 A1.25 F3000");

/// A program that the run prunes, its lines ending in LF alone: pruned, it loses a third of its
/// lines, and every line left ends in CR LF, so that it too differs from the old program on
/// every line.
inline std::string ProgramToPrune() {
  std::string program = "ActivateStrobeModule\n";
  for (int i = 0; i < 100; ++i) {
    std::string n = std::to_string(i);
    program += "G01 A" + n + ".1\nG01 A" + n + ".2\nG00 X" + n + "\n";
  }
  return program;
}

/// What the run saves of ProgramToPrune().
inline std::string PrunedProgram() {
  std::string program = "ActivateStrobeModule\r\n";
  for (int i = 0; i < 100; ++i) {
    std::string n = std::to_string(i);
    program += "G01 A" + n + ".2\r\nG00 X" + n + "\r\n";
  }
  return program;
}
