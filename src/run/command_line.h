// The NC program file path from the command line.
#pragma once

#include <vector>

#include "base/text.h"

/// Splits a whole command line into arguments: blanks and control characters separate them,
/// double quotes group (and are dropped), a pair of double quotes between arguments counts as
/// none, and a backslash is an ordinary character.
std::vector<Text> SplitCommandLine(TextView command_line);

/// The NC program file path of a whole command line: its second argument, or empty. The split
/// already counts a pair of double quotes between arguments as none, so an empty pair before the
/// path does not take its place.
Text PathFromCommandLine(TextView command_line);

/// The NC program file path of arguments already split (the program name first): the first
/// non-empty argument after the program name, or empty. Split by a shell or by the program that
/// starts prune, a pair of double quotes is an empty argument of its own; passing over the empty
/// ones finds the path that the split of a whole command line finds as its second argument.
Text PathFromArguments(const std::vector<Text>& arguments);
