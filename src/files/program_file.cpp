#include "files/program_file.h"

#include "files/file_failures.h"
#include "files/native_file.h"

bool ProgramFile::Decode(std::string file) {
  if (ProgramBytes::Holds(DetectEncoding(file).encoding)) {
    if (!bytes_.Decode(std::move(file))) return false;
    held_as_bytes_ = true;
    lines_ = LineList();
  } else {
    if (!lines_.Decode(std::move(file))) return false;
    held_as_bytes_ = false;
    bytes_ = ProgramBytes();
  }
  return true;
}

void ProgramFile::Load(const Text& path) {
  if (!Decode(ReadWholeFile(path))) RaiseDecodeFailure();
}

std::string ProgramFile::Encode() const {
  return held_as_bytes_ ? bytes_.Encode() : lines_.Encode();
}

void ProgramFile::Save(const Text& path) const {
  if (held_as_bytes_) {
    bytes_.Save(path);
  } else {
    lines_.Save(path);
  }
}
