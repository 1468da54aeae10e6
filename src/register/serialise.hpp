// The saved form of a register: a compact, versioned byte string.
//
// Version 1, all integers little-endian:
//   4 bytes   magic "ORDV"
//   1 byte    version (1)
//   8 bytes   n, the number of qubits
//   n bytes   the VOP of each qubit, in qubit order
//   then, for each qubit in order, its degree d followed by its d
//   neighbours in list order
// Degrees and neighbours take 4 bytes each when n <= 2^32, 8 bytes
// otherwise.  Nothing follows the last list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "register/register.hpp"

namespace ordavine {

inline constexpr std::uint8_t kSavedVersion = 1;
// Magic, version and size.
inline constexpr std::size_t kSavedHeaderSize = 13;

// The exact length of the saved form of `reg`.
std::size_t saved_size(const Register& reg);

// Writes the saved form into `out`, whose length is saved_size(reg).
void save_register(const Register& reg, std::span<std::uint8_t> out);

// Rebuilds a register from its saved form.  The bytes are untrusted: any
// deviation (truncation, trailing bytes, bad magic, unknown version, a VOP
// of 24 or more, a neighbour index at or above n, a qubit listed as its own
// neighbour or twice in one list, an edge listed on one side only) throws
// InvalidInput naming it, and nothing is built.  A size the bytes cannot
// hold is refused before anything is allocated for it.
Register load_register(std::span<const std::uint8_t> data);

// The checks load_register makes first, on the header alone: refuses data
// of `size` bytes that begins with `head` (its first kSavedHeaderSize
// bytes, or all of them when there are fewer) for a truncated header, bad
// magic, an unknown version or a size the data cannot hold.  For a caller
// that would have to copy the data before loading it.
void check_saved_header(std::span<const std::uint8_t> head, std::size_t size);

}  // namespace ordavine
