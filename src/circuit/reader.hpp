// The circuit reader: text in the stabilizer-circuit format that tableau
// simulators such as Stim read, the subset a graph-state register can run,
// parsed once into a Program.
//
// One instruction per line: NAME, optional parenthesised arguments, then
// targets separated by blanks; `#` starts a comment; `REPEAT n {` ... `}`
// repeats a block (nested at most kMaxNesting deep).  Names are read
// without regard to case.  Everything is checked before a Program exists:
// a refused text throws InvalidInput "line L, column C: <problem>" (columns
// count bytes from 1), and counts whose record could not be held throw
// RecordTooLarge with the same kind of message.
#pragma once

#include <string_view>

#include "circuit/program.hpp"

namespace ordavine::circuit {

Program read_circuit(std::string_view text);

}  // namespace ordavine::circuit
