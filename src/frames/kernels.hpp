// The word loops of the frame simulator, compiled once per vector width and
// chosen at run time.  Every kernel does the same bit operations whatever
// the width, so the bits that come out never depend on which one runs; the
// width only sets how many words one instruction handles.
//
// Frames of a batch: qubit q's X row is the `row_words` words starting at
// frames + 2 * row_words * q, its Z row the `row_words` words after it.
// Bit i of word k of a row belongs to shot 64 k + i of the batch.
// `row_words` is a multiple of kRowQuantum, and rows start on 64-byte
// boundaries, so any width's loads fall on whole vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "circuit/program.hpp"

namespace ordavine::frames {

using Word = std::uint64_t;
inline constexpr std::size_t kRowQuantum = 8;  // 512 bits: the widest vector

enum class VectorWidth : std::uint8_t { portable, avx2, avx512 };

// Applies a gate to every target (qubits) or pair of targets (qubit pairs).
using GateKernel = void (*)(Word* frames, std::size_t row_words, const circuit::Target* targets,
                            std::size_t count);

// Measures or resets every target (qubits) in one axis.  `gauge` holds
// count rows of random bits, one per target in order; `records`, for the
// measuring kinds, count row pointers, where each target's flip is
// written: the component of the frame that anticommutes with the measured
// Pauli.  Afterwards each frame is multiplied by the measured Pauli where
// the gauge bit is 1 (a measurement) or set to that Pauli where it is 1
// and identity elsewhere (a reset).
using MeasureKernel = void (*)(Word* frames, std::size_t row_words, const circuit::Target* targets,
                               std::size_t count, const Word* gauge, Word* const* records);

// Transposes eight 64 x 64 bit matrices side by side: `tiles` is 64 rows
// of 8 words, matrix j being word j of every row; afterwards bit b of word
// j of row i is what bit i of word j of row b was.
inline constexpr std::size_t kTilesSideBySide = 8;
using TransposeKernel = void (*)(Word* tiles);

// Writes, for shots s < shots, the low `entries` (at most 64) bits of
// words[s * kTilesSideBySide] to out + s * stride, one byte (0 or 1) each.
using UnpackKernel = void (*)(const Word* words, std::uint8_t* out, std::size_t stride, std::size_t shots,
                              std::size_t entries);

struct Kernels {
  VectorWidth width;
  std::array<GateKernel, 24> single;  // by VOP
  std::array<GateKernel, circuit::kTwoQubitGates> pair;
  // By axis (x, y, z): measure, reset, measure-and-reset.
  std::array<MeasureKernel, 3> measure, reset, measure_reset;
  // dst = XOR of the `count` rows at `sources`.
  void (*parity)(Word* dst, const Word* const* sources, std::size_t count, std::size_t row_words);
  TransposeKernel transpose;
  UnpackKernel unpack;
};

// Whether this machine can run a width.
bool width_supported(VectorWidth width);

// The widest width this machine runs.
VectorWidth widest_width();

// The kernels of a width; the width must be supported.
const Kernels& kernels_for(VectorWidth width);

}  // namespace ordavine::frames
