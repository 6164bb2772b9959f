// A whole program in the form that holds it: the bytes of its file, or the UTF-16 line list.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "program/line_list.h"
#include "program/program_bytes.h"
#include "save/save.h"

/// A whole program, held as the bytes of its file where its encoding keeps every byte
/// (ProgramBytes), else as a line list of UTF-16 text (LineList). Either way it prunes the same
/// lines and saves the same bytes.
using ProgramForm = std::variant<LineList, ProgramBytes>;

/// The program in the whole content of a file, byte-order mark included, in the form that its
/// encoding takes; nothing where the bytes after the mark decode to nothing.
std::optional<ProgramForm> FormOfFile(std::string file);

/// The pruning pass (see Prune in prune.h) over the program in either form.
void PruneForm(ProgramForm& form);

/// What a save of the program writes: the byte-order mark of its file encoding, then every line
/// followed by CR LF.
std::unique_ptr<FileContent> SavedContentOf(const ProgramForm& form);
