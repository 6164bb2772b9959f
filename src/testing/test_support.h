// What the tests share: a fresh temporary folder, whole files, and the build they run in.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"

/// The laser-on line of the default marker set, as a test file holds it.
inline const std::string kLaserOnLine = "FARCALL $STRGLOB1 \"LASER_ON\"";
/// A small program with a pair of moves inside a laser-on section, its lines ended by LF.
inline const std::string kSmallProgram = kLaserOnLine + "\nG01 A1\nG01 A2\nM30\n";
/// What a run makes of kSmallProgram: the first move gone, every line ended by CR LF.
inline const std::string kSmallProgramPruned = kLaserOnLine + "\r\nG01 A2\r\nM30\r\n";

/// A fresh folder below the system's temporary folder, removed with everything in it at the end,
/// read-only entries included. Names inside it use '/' on every platform.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  /// The folder's path on the host.
  const std::string& path() const { return path_; }
  /// The host path of `name` inside the folder.
  std::string At(const std::string& name) const;
  /// The path of `name` inside the folder as text, as the system's own operations take it.
  Text PathOf(const std::string& name) const;

  /// Writes `bytes` to `name` (making the folders on the way) and returns its host path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  /// The bytes of `name`; empty when it cannot be read.
  std::string Read(const std::string& name) const;
  /// Whether `name` is there, of whatever kind (a dangling link too).
  bool Exists(const std::string& name) const;
  /// The names in the folder, sorted (to see that nothing else was left behind).
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

/// The whole content of the file at `path`; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

/// Whether this build runs under AddressSanitizer, which takes over what some tests look at
/// (operator new, some C library functions).
bool UnderAddressSanitizer();
