// Coverage-guided fuzzing of the register core.
//
// The input bytes are read as a register size followed by a program of
// register operations: every gate, measurements whose random word is forced
// or taken from the input, peeks, entangled-group queries and deterministic
// axis queries, with qubit indices that may be in range, equal, just past
// the end or huge.  After every operation the target checks:
//   - a call fails with Failure exactly when an index is out of range or a
//     two-qubit gate is given one qubit twice, and a failed call leaves the
//     register exactly as it was (same lists in the same order, same VOPs);
//   - the graph invariants: symmetric adjacency, no self-loops, no duplicate
//     entries, every neighbour index in range, every VOP below 24;
//   - on registers of up to kOracleQubits qubits, the represented state
//     against a dense state vector that receives the same gates as explicit
//     matrices and is projected onto every measurement outcome (outcomes must
//     have non-zero probability, and "determined" must mean certain);
//   - peeks leave the register unchanged and report outcomes that are
//     jointly possible; entangled groups are the connected components;
//     find_deterministic names exactly the axis whose outcome is certain.
// With ORDAVINE_FUZZ_OOM=1 the program can also make the k-th allocation of
// its next operation fail (std::bad_alloc, which the binding raises as
// MemoryError); the register must then still keep its invariants and
// represent the same state, and with ORDAVINE_FUZZ_OOM=strict it must be
// exactly as it was.
// Any disagreement aborts, which libFuzzer reports as a crash with the input.
//
// Input layout: byte 0 picks the size (top bit clear: 0-6 qubits, checked
// against the dense model; set: 7-38 qubits); then one opcode byte per
// operation followed by its operands (see Session::step_once).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "circuit/instructions.hpp"
#include "failure/failure.hpp"
#include "measure/measure.hpp"
#include "measure/peek.hpp"
#include "register/entangled_group.hpp"
#include "register/export.hpp"
#include "register/gate_steps.hpp"
#include "register/register.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"
#include "support/gate_matrices.hpp"

// Allocation failure injection: while armed, the countdown-th allocation
// made through operator new throws std::bad_alloc.  Only the operation under
// test runs armed; the harness's own bookkeeping never does.  (Replacing the
// operators costs the sanitizer's new/delete mismatch check; it still sees
// every heap access through malloc and free.)
#include "support/failing_allocator.hpp"

namespace ordavine {
namespace {

using oracle::DenseState;
namespace gates = oracle::gates;

constexpr std::size_t kOracleQubits = 6;
constexpr std::size_t kMaxOperations = 2000;
constexpr double kTolerance = 1e-9;

// Allocation failure injection, set from ORDAVINE_FUZZ_OOM: 0 (unset) off;
// 1: an operation that runs out of memory must leave a register that keeps
// its invariants and represents the same state; strict: it must leave the
// register exactly as it was.
enum class OomMode { off, invariants, strict };
OomMode oom_mode = OomMode::off;

[[noreturn]] void violation(const std::string& what) {
  std::fprintf(stdout, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stdout);
  std::abort();
}

void require(bool condition, const std::string& what) {
  if (!condition) violation(what);
}

// The fuzz input, consumed front to back; reads past the end give zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool exhausted() const { return position_ >= size_; }
  std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | byte();
    return w;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Random words taken from the fuzz input, counted.
class InputWords final : public RandomSource {
 public:
  explicit InputWords(Input& input) : input_(input) {}
  std::uint32_t next_word() override {
    ++drawn;
    return input_.word();
  }
  std::size_t drawn = 0;

 private:
  Input& input_;
};

// The same word on every draw, counted: forces the outcome bit.
class FixedWord final : public RandomSource {
 public:
  explicit FixedWord(std::uint32_t word) : word_(word) {}
  std::uint32_t next_word() override {
    ++drawn;
    return word_;
  }
  std::size_t drawn = 0;

 private:
  std::uint32_t word_;
};

// A qubit index: mostly in range, sometimes just past the end or far out.
Qubit decode_index(std::uint8_t b, std::size_t n) {
  if (b < 0xF0) return n == 0 ? b : b % n;
  switch (b) {
    case 0xF0: return n;
    case 0xF1: return n + 1;
    case 0xF2: return ~Qubit{0};
    case 0xF3: return ~Qubit{0} / 2;
    case 0xF4: return Qubit{1} << 32;
    case 0xF5: return (Qubit{1} << 32) + (n == 0 ? 0 : n - 1);  // wraps to an index if truncated
    default: return b;  // 0xF6..0xFF as raw values, out of range for small n
  }
}

struct Snapshot {
  std::vector<std::vector<Qubit>> lists;
  std::vector<Vop> vops;
  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const Register& reg) {
  Snapshot s;
  for (const Node& node : reg.nodes()) {
    s.lists.push_back(node.neighbors);
    s.vops.push_back(node.vop);
  }
  return s;
}

void check_invariants(const Register& reg, const char* after) {
  // An adjacency matrix filled from the lists keeps the check linear in the
  // number of entries (plus n^2 for the matrix) however dense the graph.
  const std::size_t n = reg.size();
  std::vector<std::uint8_t> entries(n * n, 0);
  for (Qubit a = 0; a < n; ++a) {
    require(reg[a].vop < 24, std::string("VOP out of range after ") + after);
    for (const Qubit b : reg[a].neighbors) {
      require(b < n, std::string("neighbour index out of range after ") + after);
      require(b != a, std::string("self-loop after ") + after);
      require(entries[a * n + b]++ == 0, std::string("duplicate neighbour entry after ") + after);
    }
  }
  for (Qubit a = 0; a < n; ++a)
    for (Qubit b = a + 1; b < n; ++b)
      require(entries[a * n + b] == entries[b * n + a], std::string("asymmetric adjacency after ") + after);
}

// Connected components by union-find over the edge lists.
std::vector<Qubit> component_of(const Register& reg, Qubit q) {
  std::vector<Qubit> parent(reg.size());
  std::iota(parent.begin(), parent.end(), Qubit{0});
  auto find = [&](Qubit v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (Qubit a = 0; a < reg.size(); ++a)
    for (Qubit b : reg[a].neighbors) parent[find(a)] = find(b);
  std::vector<Qubit> members;
  for (Qubit v = 0; v < reg.size(); ++v)
    if (find(v) == find(q)) members.push_back(v);
  return members;
}

oracle::Matrix2 pauli_of(int code) {
  switch (code) {
    case 0: return gates::pauli_x();
    case 1: return gates::pauli_y();
    default: return gates::pauli_z();
  }
}

using TwoQubitGate = void (*)(Register&, Qubit, Qubit);
struct TwoQubitCase {
  const char* name;
  TwoQubitGate gate;
  int control_pauli;  // -1: plain controlled-Z on (control, target)
  int target_pauli;
};
const TwoQubitCase kTwoQubit[] = {
    {"cz", cz, -1, -1}, {"cx", cx, 2, 0},   {"cy", cy, 2, 1},   {"xcx", xcx, 0, 0}, {"xcy", xcy, 0, 1},
    {"xcz", xcz, 0, 2}, {"ycx", ycx, 1, 0}, {"ycy", ycy, 1, 1}, {"ycz", ycz, 1, 2},
};

using SingleQubitGate = void (*)(Register&, Qubit);
struct SingleQubitCase {
  const char* name;
  SingleQubitGate gate;
  oracle::Matrix2 (*matrix)();
};
const SingleQubitCase kSingleQubit[] = {
    {"x", x, gates::pauli_x},  {"y", y, gates::pauli_y}, {"z", z, gates::pauli_z},
    {"h", h, gates::hadamard}, {"s", s, gates::s},       {"sdag", sdag, gates::s_dagger},
};

// Probability of `result` on `axis` for qubit q, and the state projected onto
// it (when possible).
oracle::PauliMeasurement project(const DenseState& state, Qubit q, int axis, int result) {
  return oracle::measure_pauli(state, q, static_cast<Axis>(axis), result);
}

class Session {
 public:
  Session(std::size_t n, Input& input) : n_(n), input_(input), reg_(n) {
    if (n_ <= kOracleQubits) model_.emplace(n_);
  }

  void run() {
    check_invariants(reg_, "construction");
    compare_with_model("construction");
    for (std::size_t step = 0; step < kMaxOperations && !input_.exhausted(); ++step) step_once();
  }

 private:
  Qubit index() { return decode_index(input_.byte(), n_); }
  bool in_range(Qubit q) const { return q < n_; }

  enum class Result { done, failed, out_of_memory };

  // Runs `op`; a Failure must happen exactly when `should_fail`, and must
  // leave the register as it was.  When an allocation failure was armed and
  // hit, the register must still keep its invariants and represent the same
  // state as before; in strict mode it must also be exactly unchanged.
  template <class Op>
  Result attempt(const char* name, bool should_fail, Op&& op) {
    const Snapshot before = snapshot(reg_);
    Result result = Result::done;
    allocations_until_failure = armed_;
    armed_ = -1;
    try {
      op();
    } catch (const Failure&) {
      result = Result::failed;
    } catch (const std::bad_alloc&) {
      result = Result::out_of_memory;
    }
    allocations_until_failure = -1;
    if (result == Result::out_of_memory) {
      check_invariants(reg_, (std::string(name) + " (out of memory)").c_str());
      if (!(snapshot(reg_) == before)) {
        if (oom_mode == OomMode::strict) {
          violation(std::string(name) + " changed the register and then ran out of memory");
        }
        // Only steps that keep the represented state (the complementations
        // of a VOP reduction) may have happened.
        compare_with_model((std::string(name) + " (out of memory)").c_str());
      }
      return result;
    }
    const bool failed = result == Result::failed;
    if (failed != should_fail) {
      violation(std::string(name) + (failed ? " failed on valid operands" : " accepted bad operands"));
    }
    if (failed) require(snapshot(reg_) == before, std::string("failed ") + name + " changed the register");
    check_invariants(reg_, name);
    return result;
  }

  void compare_with_model(const char* after) {
    if (!model_) return;
    require(oracle::same_up_to_phase(oracle::state_of(reg_), *model_, 1e-7),
            std::string("represented state differs from the dense model after ") + after);
    // The generator of every qubit, read from the register, fixes the model
    // with its sign (an eigenvalue equation: the model's phase drops out).
    for (Qubit a = 0; a < reg_.size(); ++a) {
      const SparseStabilizer generator = stabilizer_of(reg_, a);
      DenseState image = *model_;
      for (const PauliFactor& factor : generator.factors) {
        image.apply(factor.qubit, gates::pauli(factor.axis));
      }
      const double sign = generator.negative ? -1.0 : 1.0;
      for (std::size_t i = 0; i < image.amplitudes().size(); ++i) {
        require(std::abs(sign * image.amplitudes()[i] - model_->amplitudes()[i]) < 1e-7,
                std::string("stabilizer generator does not fix the state after ") + after);
      }
    }
  }

  void single_qubit_gate(const SingleQubitCase& g) {
    const Qubit q = index();
    if (attempt(g.name, !in_range(q), [&] { g.gate(reg_, q); }) == Result::done) {
      if (model_) model_->apply(q, g.matrix());
      compare_with_model(g.name);
    }
  }

  void two_qubit_gate(const TwoQubitCase& g) {
    const Qubit c = index();
    const Qubit t = index();
    const bool bad = !in_range(c) || !in_range(t) || c == t;
    if (attempt(g.name, bad, [&] { g.gate(reg_, c, t); }) == Result::done) {
      if (model_) {
        model_->apply(c, t,
                      g.control_pauli < 0
                          ? gates::controlled_z()
                          : gates::controlled(pauli_of(g.control_pauli), pauli_of(g.target_pauli)));
      }
      compare_with_model(g.name);
    }
  }

  // A gate of the circuit format by its instruction record: a VOP, or the
  // register steps of a two-qubit gate, whose undoing after an allocation
  // failure the attempt checks.
  void record_gate() {
    static constexpr auto gates = [] {
      std::array<std::uint8_t, circuit::kInstructions.size()> list{};
      std::size_t n = 0;
      for (std::size_t i = 0; i < circuit::kInstructions.size(); ++i) {
        const auto kind = circuit::kInstructions[i].kind;
        if (kind == circuit::Kind::single_qubit || kind == circuit::Kind::two_qubit) {
          list[n++] = static_cast<std::uint8_t>(i);
        }
      }
      return std::pair{list, n};
    }();
    const circuit::InstructionRecord& record =
        circuit::kInstructions[gates.first[input_.byte() % gates.second]];
    const std::string name(record.name);
    if (record.kind == circuit::Kind::single_qubit) {
      const Qubit q = index();
      if (attempt(name.c_str(), !in_range(q), [&] { apply_single_qubit_gate(reg_, q, record.vop); }) ==
          Result::done) {
        if (model_) model_->apply(q, oracle::vop_matrix(record.vop));
        compare_with_model(name.c_str());
      }
      return;
    }
    const Qubit a = index();
    const Qubit b = index();
    const bool bad = !in_range(a) || !in_range(b) || a == b;
    if (attempt(name.c_str(), bad, [&] { apply_gate_steps(reg_, record.steps, a, b); }) == Result::done) {
      if (model_) model_->apply(a, b, oracle::gate_matrix(record.gate));
      compare_with_model(name.c_str());
    }
  }

  // Checks a measurement's outcome against the model and projects onto it.
  void record_outcome(Qubit q, int axis, const Measurement& m, const char* name) {
    require(m.result <= 1, std::string(name) + " returned a result that is not a bit");
    if (!model_) return;
    const auto outcome = project(*model_, q, axis, m.result);
    require(outcome.probability > kTolerance, std::string(name) + " returned an outcome of probability 0");
    if (m.determined) {
      require(outcome.probability > 1 - 1e-7,
              std::string(name) + " claimed a determined outcome that is not certain");
    } else {
      require(std::abs(outcome.probability - 0.5) < 1e-7,
              std::string(name) + " drew a word for an outcome that is not 50/50");
    }
    *model_ = outcome.after;
  }

  void measurement() {
    const std::uint8_t mode = input_.byte();
    const int axis = mode % 3;
    const int source = (mode / 3) % 3;  // 0: words from the input, 1: forced 0, 2: forced 1
    const Qubit q = index();
    Measurement m{};
    std::size_t drawn = 0;
    InputWords words(input_);
    FixedWord fixed(source == 1 ? 0x7fffffffu : 0x80000000u);
    RandomSource& random = source == 0 ? static_cast<RandomSource&>(words) : fixed;
    const Snapshot before = snapshot(reg_);
    const std::size_t held = heap_bytes(reg_);
    const Result result =
        attempt("measure", !in_range(q), [&] { m = measure(reg_, q, static_cast<Axis>(axis), random); });
    drawn = source == 0 ? words.drawn : fixed.drawn;
    if (result == Result::out_of_memory) {
      // A measurement has all its memory before it changes anything, and
      // gives back what it had when it cannot have all.
      require(snapshot(reg_) == before, "a measurement changed the register and then ran out of memory");
      require(heap_bytes(reg_) <= held, "a measurement that ran out of memory kept the room it had");
      return;
    }
    if (result == Result::failed) {
      require(drawn == 0, "a failed measurement drew a word");
      return;
    }
    require(drawn == (m.determined ? 0u : 1u), "a measurement drew the wrong number of words");
    require(reg_[q].neighbors.empty(), "a measured qubit kept neighbours");
    record_outcome(q, axis, m, "measure");
    compare_with_model("measure");
    // Measuring again on the same axis must repeat the outcome, determined.
    FixedWord again(0);
    const Measurement repeat = measure(reg_, q, static_cast<Axis>(axis), again);
    require(repeat.determined && again.drawn == 0 && repeat.result == m.result,
            "a repeated measurement did not repeat the outcome");
    check_invariants(reg_, "repeated measure");
    compare_with_model("repeated measure");
  }

  void peek() {
    const std::size_t count = input_.byte() % 6;
    std::vector<Qubit> qubits;
    bool bad = false;
    for (std::size_t i = 0; i < count; ++i) {
      qubits.push_back(index());
      bad = bad || !in_range(qubits.back());
    }
    InputWords words(input_);
    std::vector<PeekOutcome> outcomes;
    const Snapshot before = snapshot(reg_);
    if (attempt("peek_measure_set", bad, [&] { outcomes = peek_measure_set(reg_, qubits, words); }) !=
        Result::done)
      return;
    require(snapshot(reg_) == before, "peek_measure_set changed the register");
    std::vector<Qubit> expected = qubits;
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    require(outcomes.size() == expected.size(), "peek_measure_set returned the wrong count");
    std::optional<DenseState> state = model_;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const PeekOutcome& o = outcomes[i];
      require(o.qubit == expected[i], "peek_measure_set returned the wrong qubits");
      const int axis = o.info & PeekOutcome::kAxisMask;
      require(axis <= 2 && o.result <= 1, "peek_measure_set returned a malformed outcome");
      if (!state) continue;
      const auto outcome = project(*state, o.qubit, axis, o.result);
      require(outcome.probability > kTolerance, "peek_measure_set returned an impossible outcome");
      if (o.info & PeekOutcome::kDeterminedFlag) {
        require(outcome.probability > 1 - 1e-7, "peek_measure_set called an uncertain outcome determined");
      }
      *state = outcome.after;
    }
  }

  void entangled_group_query() {
    const Qubit q = index();
    std::vector<Qubit> group;
    if (attempt("get_entangled_group", !in_range(q), [&] { group = entangled_group(reg_, q); }) !=
        Result::done)
      return;
    require(!group.empty() && group.front() == q, "entangled group does not start with its qubit");
    std::sort(group.begin(), group.end());
    require(group == component_of(reg_, q), "entangled group is not the connected component");
  }

  void deterministic_query() {
    const Qubit q = index();
    Axis axis = Axis::none;
    if (attempt("find_deterministic", !in_range(q), [&] { axis = find_deterministic(reg_, q); }) !=
        Result::done)
      return;
    require((axis == Axis::none) == !reg_[q].neighbors.empty(),
            "find_deterministic disagrees with the qubit's degree");
    if (!model_) return;
    // Exactly the axes with a certain outcome: none for an entangled qubit.
    for (int a = 0; a < 3; ++a) {
      const double p = project(*model_, q, a, 0).probability;
      const bool certain = p < kTolerance || p > 1 - 1e-7;
      require(certain == (static_cast<int>(axis) == a), "find_deterministic disagrees with the dense model");
    }
  }

  // Opcodes (byte % 21) and their operand bytes:
  //   0-5   x y z h s sdag            qubit
  //   6-14  cz cx cy xcx xcy xcz ycx ycy ycz   control, target
  //   15    measure                   mode (axis = mode % 3; word source =
  //                                   mode / 3 % 3: input, forced 0, forced 1),
  //                                   qubit, [4 word bytes when from input]
  //   16    peek                      count % 6, qubits..., [word bytes]
  //   17    entangled group           qubit
  //   18    find_deterministic        qubit
  //   19    arm allocation failure    k % 16 (only with ORDAVINE_FUZZ_OOM)
  //   20    a gate of the circuit format, by its record: which, then its
  //         qubit or its two qubits
  // A qubit byte below 0xF0 is taken modulo the size; 0xF0-0xF5 give the
  // size, size + 1 and huge values; 0xF6-0xFF are used as they are.
  void step_once() {
    const std::uint8_t op = input_.byte() % 21;
    if (op == 19) {
      // The next operation's allocation number k (0-based) fails.
      const long k = input_.byte() % 16;
      if (oom_mode != OomMode::off) armed_ = k;
      return;
    }
    if (op < 6) return single_qubit_gate(kSingleQubit[op]);
    if (op < 15) return two_qubit_gate(kTwoQubit[op - 6]);
    switch (op) {
      case 15: return measurement();
      case 16: return peek();
      case 17: return entangled_group_query();
      case 18: return deterministic_query();
      default: return record_gate();
    }
  }

  std::size_t n_;
  Input& input_;
  Register reg_;
  std::optional<DenseState> model_;
  long armed_ = -1;
};

}  // namespace
}  // namespace ordavine

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every rejected index writes a failure report to standard error; in a
  // fuzzing run that is millions of lines.  The C stream is pointed at
  // /dev/null: the sanitizers and libFuzzer write to the descriptor itself,
  // so their reports still appear.  ORDAVINE_FUZZ_VERBOSE=1 keeps them.
  const char* oom = std::getenv("ORDAVINE_FUZZ_OOM");
  const std::string oom_mode = oom == nullptr ? "0" : oom;
  ordavine::oom_mode = oom_mode == "strict" ? ordavine::OomMode::strict
                       : oom_mode == "1"    ? ordavine::OomMode::invariants
                                            : ordavine::OomMode::off;
  const char* verbose = std::getenv("ORDAVINE_FUZZ_VERBOSE");
  if (verbose == nullptr || verbose[0] != '1') {
    if (FILE* sink = std::fopen("/dev/null", "w")) stderr = sink;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ordavine::Input input(data, size);
  // Small registers (checked against the dense model) most of the time,
  // larger ones (7 to 38 qubits, invariants only) when the top bit is set.
  // Larger still adds little: gates on high-degree vertices cost the cube
  // of the degree, which would only slow the search down.
  const std::uint8_t b = input.byte();
  const std::size_t n =
      (b & 0x80) ? ordavine::kOracleQubits + 1 + (b & 0x1f) : b % (ordavine::kOracleQubits + 1);
  ordavine::Session(n, input).run();
  return 0;
}
