#include "program/program_pieces.h"

#include <algorithm>
#include <cstring>

#include "encoding/code_page.h"
#include "encoding/encoding_failures.h"
#include "program/prune_detail.h"
#include "program/saved_lines.h"

using prune_detail::DeletingScan;
using prune_detail::Examiner;
using Walk = prune_detail::LineWalk<ProgramBytes>;

namespace {

/// The end of the last whole line of `text`, which more bytes follow: after its last line
/// break, unless that is a CR in its last code unit, which an LF may follow; 0 where there is
/// none.
size_t WholeLinesEnd(std::string_view text, UnitForm form) {
  const size_t width = UnitWidth(form);
  const size_t end = text.size() / width * width;
  for (size_t at = end; at >= width; at -= width) {
    char16_t unit = Walk::UnitAt(form, text, at - width);
    if (unit == u'\n' || (unit == u'\r' && at < end)) return at;
  }
  return 0;
}

/// The walk's scan over a piece whose first line was examined with the piece before: that line
/// only becomes the line before the next one.
template <typename Examine>
struct ResumingScan {
  DeletingScan<Examine> scan;
  size_t resume_at;  // where the first line not examined yet begins

  PRUNE_INLINE void operator()(const ScannedLine& line) {
    if (line.begin < resume_at) [[unlikely]] {
      scan.NoteEnding(line);
      scan.previous = line;
      return;
    }
    scan(line);
  }
};

/// The examiner of a program that is not pruned.
struct KeepEveryLine {
  bool operator()(std::string_view, bool) const { return false; }
};

}  // namespace

ProgramPieces::ProgramPieces(std::unique_ptr<PieceReader> reader, size_t piece_size)
    : reader_(std::move(reader)),
      // Room for the longest byte-order mark at least.
      capacity_(std::max<size_t>(piece_size, 4)),
      piece_size_(capacity_) {
  // Not cleared first: the reads write every byte that is used.
  buffer_.reset(new char[capacity_]);
  Fill();
  mark_ = DetectEncoding(std::string_view(buffer_.get(), used_));
  text_from_ = mark_.mark_length;
  form_ = FormOf(mark_.encoding);
  // A single byte after a UTF-16 mark decodes to nothing, as in the file read whole; so short a
  // file ends within the first read.
  if (at_end_ && UnitWidth(form_) == 2 && text().size() == 1) RaiseDecodeFailure();
  // The first line selects the marker set: it is read whole before the first piece goes.
  while (!at_end_ && Walk::FirstLine(text(), form_).size() ==
                         text().size() / UnitWidth(form_) * UnitWidth(form_)) {
    Fill();
  }
}

bool ProgramPieces::WriteTo(const std::function<bool(Slices)>& write) const {
  if (whole_) return Whole().WriteTo(write);
  written_ = true;
  if (!prune_) return Write(write, {}, KeepEveryLine{});
  const MarkerSet& markers = Walk::MarkerSetOf(text(), form_);
  MovePruning<char> rule(markers, [&](TextView ascii) { return Walk::EncodedIn(form_, ascii); });
  return Write(write, Walk::EncodedIn(form_, markers.move_pattern), Examiner<char>{rule});
}

template <typename Examine>
bool ProgramPieces::Write(const std::function<bool(Slices)>& write, std::string_view needle,
                          Examine examine) const {
  const size_t width = UnitWidth(form_);
  Batcher batcher(write);
  batcher.Add(ByteOrderMark(mark_.encoding));
  auto add = [&batcher](std::string_view slice) { batcher.Add(slice); };
  size_t resume_at = 0;  // the lines before were examined with the piece before
  for (;;) {
    const std::string_view all = text();
    // An odd last byte of UTF-16 is no part of the text.
    const size_t whole = at_end_ ? all.size() / width * width : WholeLinesEnd(all, form_);
    if (whole <= resume_at && !at_end_) {
      Fill();
      continue;
    }
    CheckDecodes(all.substr(checked_, whole - checked_));
    checked_ = whole;
    ByteRanges deleted;
    auto scan =
        ScanLinesOf(form_, all.substr(0, whole), needle,
                    ResumingScan<Examine>{{examine, all.data(), 2 * width, &deleted}, resume_at})
            .scan;
    scan.Flush();
    deleted.Add(scan.open_begin, scan.open_end);
    examine = scan.examine;
    // The last line waits for the next piece, whose first line tells whether it goes; the
    // file's last line has no line after it and stays.
    const ScannedLine last = scan.previous;
    const size_t kept_end = at_end_ ? whole : last.begin;
    const size_t crlf_until = scan.all_crlf ? whole : scan.crlf_until;
    size_t from = 0;
    deleted.ForEach([&](ByteRanges::Range range) {
      EmitLines(form_, all, from, range.begin, crlf_until, add);
      from = range.end;
    });
    EmitLines(form_, all, from, kept_end, crlf_until, add);
    // Before the buffer takes the next piece.
    if (!batcher.Flush()) return false;
    if (at_end_) return true;
    resume_at = last.next - last.begin;
    KeepFrom(last.begin);
    Fill();
  }
}

void ProgramPieces::CheckRest() const {
  if (failed_ || whole_) return;
  std::string rest(text().substr(checked_));
  while (!at_end_) {
    size_t before = rest.size();
    rest.resize(before + piece_size_);
    size_t read = reader_->Read(rest.data() + before, piece_size_);
    rest.resize(before + read);
    at_end_ = read < piece_size_;
  }
  CheckDecodes(rest);
}

void ProgramPieces::CheckSource() const {
  if (whole_) return;  // content known whole has nothing to check
  failed_ = true;      // should the file have changed, that is the content's failure
  reader_->CheckUnchanged();
  failed_ = false;
}

const FileContent& ProgramPieces::Whole() const {
  if (!saved_) saved_ = SavedContentOf(WholeForm());
  return *saved_;
}

ProgramForm& ProgramPieces::WholeForm() const {
  if (!whole_) {
    failed_ = true;  // should the read or the decode fail, that is the content's failure
    std::optional<ProgramForm> form = FormOfFile(reader_->ReadWhole());
    if (!form) RaiseDecodeFailure();
    if (prune_) PruneForm(*form);
    whole_ = std::move(form);
    failed_ = false;
  }
  return *whole_;
}

std::string ProgramPieces::ReadWhole() const { return reader_->ReadWhole(); }

void ProgramPieces::Fill() const {
  if (used_ == capacity_) {
    // A line longer than a piece: the buffer grows to hold it whole.
    std::unique_ptr<char[]> larger(new char[2 * capacity_]);
    std::memcpy(larger.get(), buffer_.get(), used_);
    buffer_ = std::move(larger);
    capacity_ *= 2;
  }
  const size_t room = capacity_ - used_;
  failed_ = true;  // should the read fail, that is the content's failure
  const size_t read = reader_->Read(buffer_.get() + used_, room);
  failed_ = false;
  used_ += read;
  at_end_ = read < room;
}

void ProgramPieces::KeepFrom(size_t from) const {
  const size_t begin = text_from_ + from;
  std::memmove(buffer_.get(), buffer_.get() + begin, used_ - begin);
  used_ -= begin;
  text_from_ = 0;
  checked_ -= from;
}

void ProgramPieces::CheckDecodes(std::string_view bytes) const {
  if (mark_.encoding == FileEncoding::kUtf8 && !IsDecodableUtf8(bytes)) {
    failed_ = true;
    RaiseDecodeFailure();
  }
}
