// Many shots of one program as Pauli frames: each shot is a Pauli operator
// (its frame) by which its state differs from one noiseless reference run,
// kept as an X row and a Z row of bits per qubit, one bit per shot, so that
// a gate costs a few word operations for 64 shots at a time (more where
// the machine has wider vectors).  A recorded bit of a shot is the
// reference's bit XOR the shot's flip: whether its frame anticommutes with
// what was measured, plus recorded noise.
//
// Frame rules.  A Clifford conjugates the frames.  A measurement records
// the component of the frame that anticommutes with the measured Pauli,
// then multiplies the frame by that Pauli where a random gauge bit is 1; a
// reset clears the frame on the qubit and sets it to the reset Pauli where
// a gauge bit is 1 (the frames start as a reset to |0>).  Without the
// gauge a frame would miss the randomness of outcomes the reference fixed
// at +1.  Feed-forward (`CX rec[-k] q`) applies its Pauli where the looked
// back flip is 1.  Noise multiplies frames by Paulis where it fires;
// recorded noise flips recorded bits; heralds record 1 where they fire.
// Detectors and observables are parities of record flips (observables
// also of whether the frame anticommutes with their Pauli targets), which
// are detection events by construction.
//
// Blocks.  Shots are handled in blocks of 256, block b holding shots 256 b
// to 256 b + 255 (absolute shot numbers, not counted from the call's first
// shot).  Block b draws from two ChaCha12 streams of the key (BlockStream):
// gauge bits from stream 2b + 1, noise from stream 2b + 2.  Its gauge
// stream gives, 256 bits (four words, word k bits for shots 64 k ..
// 64 k + 63 of the block, bit i for shot 64 k + i) at a time: the Z rows of
// qubits 0, 1, ..., n - 1 at the start, then one gauge per measured or
// reset target and per measured product, in program order.  Its noise
// stream gives the firing sites of each noise channel and recorded flip in
// program order (noise.hpp: the sites of an instruction are numbered
// target by target, 256 per target, pair or product, or 256 for E and
// ELSE, the shot's place in the block within), each firing site followed,
// for channels that choose a Pauli, by one word for the choice.  A block's
// bits thus depend on (key, b) alone: how shots are split into calls, how
// many blocks run side by side, and the vector width change nothing.
//
// Detection events often need no gauges at all.  The frames are linear in
// the gauge bits and the noise together, so where no detector and no
// observable depends on any gauge bit, each event is the same bit whatever
// the gauges are, and a sampler of events draws none (all zero) once it has
// found so; it still draws them where it has not looked (a call of fewer
// than kProbeBlocks blocks before any larger one; the threads of a call
// share the look of the call's first sampler), or has found a dependence.
// It finds out once, from a noiseless run of two blocks with random
// gauges: a detector or observable that depends on some gauge bit is 1 in
// each of its 512 shots with probability 1/2, independently.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "circuit/program.hpp"
#include "frames/batch_rows.hpp"
#include "frames/kernels.hpp"
#include "random/chacha.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

// The noiseless reference record of a program, 64 entries a word (entry m
// in bit m % 64 of word m / 64), from a run on a register of
// program.qubit_count qubits.  An allocation that fails throws OutOfMemory
// naming it.
using ReferenceRecord = std::vector<Word>;
std::shared_ptr<const ReferenceRecord> make_reference_record(const circuit::Program& program,
                                                             CancelCheck* cancel = nullptr);

struct SamplerOptions {
  VectorWidth width = widest_width();
  // At most this many blocks side by side; 0 for the sampler's own choice
  // (as many as keep a batch's rows within the core's cache, as the system
  // reports it (cache_budget.hpp), in pairs: at least two, at most 64).
  std::size_t batch_blocks = 0;
  // The program's reference record, made once and shared by samplers of
  // the same program (on other threads, or over many calls); null for the
  // sampler to make its own when it first needs one.
  std::shared_ptr<const ReferenceRecord> reference = nullptr;
  // Draw the gauges for detection events even where none depends on them
  // (the events are the same either way; tests compare the two).
  bool always_draw_gauges = false;
};

// A sampler of detection events looks for gauge bits they depend on at its
// first call of at least this many blocks: the look costs two blocks' run.
inline constexpr std::uint64_t kProbeBlocks = 16;
inline bool long_enough_to_look(std::uint64_t first, std::uint64_t count) {
  return blocks_spanned(first, count) >= kProbeBlocks;
}

// The rows of the shots of one call: each as ShotRows describes (unpacked
// or packed), consecutive shots one after the other.
struct SampleOutputs {
  std::span<std::uint8_t> measurements = {};
  std::span<std::uint8_t> detectors = {};
  std::span<std::uint8_t> observables = {};
};

// What runs shots into rows: one frame sampler, or several on threads
// (parallel_shots.hpp).  The calls are FrameSampler's, below.
class ShotSource {
 public:
  virtual std::size_t measurement_row_bytes() const = 0;
  virtual std::size_t detector_row_bytes() const = 0;
  virtual std::size_t observable_row_bytes() const = 0;
  virtual void prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) = 0;
  virtual void run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                         SampleOutputs outputs, CancelCheck* cancel) = 0;

 protected:
  ~ShotSource() = default;
};

class FrameSampler final : public ShotSource {
 public:
  // `detectors`: rows are detection events and observable flips instead of
  // measurement records.  `packed`: 8 entries a byte.
  FrameSampler(const circuit::Program& program, bool detectors, bool packed, SamplerOptions options = {});
  ~FrameSampler();
  FrameSampler(const FrameSampler&) = delete;
  FrameSampler& operator=(const FrameSampler&) = delete;

  // Bytes per shot of each output (0 for the outputs not made).
  std::size_t measurement_row_bytes() const override;
  std::size_t detector_row_bytes() const override;
  std::size_t observable_row_bytes() const override;

  // Takes all that run_shots(key, first, count, ...) will allocate but a
  // few kilobytes of scratch (the rows of its widest batch, the streams,
  // the detector sources) and, for a record of measurements, makes
  // the reference run (on a register of program.qubit_count qubits, once
  // per sampler); for detection events, it may run the look for gauges
  // they depend on (from a key of its own).  It draws nothing from the
  // call's streams and needs no key, so that a caller can
  // meet every lack of memory before it draws a key.  An allocation that
  // fails throws OutOfMemory naming what it was for and how many bytes.
  void prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel = nullptr) override;

  // For detection events: whether some detector or observable depends on a
  // gauge bit, from the look (run here if it has not been), or told by a
  // sampler of the same program that has looked (threads share one look).
  bool events_need_gauges(CancelCheck* cancel = nullptr);
  void take_gauge_finding(bool events_need_gauges);

  // Runs shots first .. first + count - 1 (at most 2^64 - 1) of `key` into
  // their rows, preparing first what prepare() has not.  `cancel` is polled
  // as work is done, inside batches too; Cancelled leaves the rows partly
  // written.
  void run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count, SampleOutputs outputs,
                 CancelCheck* cancel = nullptr) override;

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace ordavine::frames
