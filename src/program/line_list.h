// The NC program as a list of lines, with its file encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "encoding/file_encoding.h"
#include "save/save.h"

/// An ordered list of lines, numbered from 0. The lines are views into one text buffer; a line
/// holds no CR or LF. Remembers the file encoding that the load found, for the save.
class LineList {
 public:
  /// An empty list, in the ANSI encoding.
  LineList() = default;

  /// The lines of the whole content of a file, byte-order mark included, whose mark is `mark`,
  /// in the mark's encoding; nothing when the bytes after the mark decode to nothing. The bytes
  /// of the file are released before the lines are split.
  static std::optional<LineList> FromFile(std::string file, EncodingMark mark);

  int Count() const { return static_cast<int>(lines_.size()); }
  TextView Get(int index) const {
    const Span& span = lines_[index];
    return TextView(text_.data() + span.start, span.length);
  }

  /// Removes every line whose entry in `marked` is set, in one pass.
  void DeleteMarked(const std::vector<bool>& marked);

  FileEncoding encoding() const { return encoding_; }

  /// What Save writes: the byte-order mark of the file encoding, then every line followed by
  /// CR LF, encoded as one slice.
  class SavedContent : public FileContent {
   public:
    explicit SavedContent(const LineList& lines) : bytes_(lines.Encode()) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool WriteTo(const std::function<bool(Slices)>& write) const override {
      return ContiguousContent(bytes_).WriteTo(write);
    }

   private:
    std::string bytes_;
  };

 private:
  struct Span {
    uint32_t start;
    uint32_t length;
  };

  /// The lines of `text`, split at CR LF, lone LF and lone CR.
  LineList(FileEncoding encoding, Text text);

  std::string Encode() const;

  Text text_;
  std::vector<Span> lines_;
  FileEncoding encoding_ = FileEncoding::kAnsi;
};
