// Compiling one line into the program by its record's Kind: the checks of
// line_checks, then the instruction each kind emits (if any: a gate
// without targets, a noise channel that cannot fire and the annotations
// emit nothing), with its targets rewritten where the kind needs it and
// the counts it adds.
#pragma once

#include "circuit/line.hpp"
#include "circuit/program_builder.hpp"

namespace ordavine::circuit::reading {

// `line`'s targets are the builder's line_targets, as read.
void compile_line(const Line& line, ProgramBuilder& builder);

}  // namespace ordavine::circuit::reading
