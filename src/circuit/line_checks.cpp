#include "circuit/line_checks.hpp"

#include <cmath>
#include <string>

namespace ordavine::circuit::reading {
namespace {

// Disjoint probabilities may add up to a little more than 1, as rounded
// decimal text does; beyond this they are refused.
constexpr double kSumTolerance = 1e-7;

void expect_arguments(const Line& line, std::size_t low, std::size_t high) {
  const std::size_t n = line.arguments.size();
  if (n >= low && n <= high) return;
  std::string wanted =
      low == high ? std::to_string(low) : std::to_string(low) + " or " + std::to_string(high);
  read_error(n > 0 ? line.arguments.front().at : line.start, std::string(line.name()) + " takes " + wanted +
                                                                 " argument" + (high == 1 ? "" : "s") +
                                                                 ", found " + std::to_string(n));
}

void check_probabilities(std::span<const Argument> arguments) {
  for (const Argument& argument : arguments) {
    if (!(argument.value >= 0.0 && argument.value <= 1.0)) {
      read_error(argument.at, "probability " + std::to_string(argument.value) + " is outside [0, 1]");
    }
  }
}

// Probabilities of disjoint alternatives: each in [0, 1], and their sum
// at most 1 (within the rounding of decimal text).  Returns the sum.
double check_disjoint(const Line& line) {
  check_probabilities(line.arguments);
  double sum = 0.0;
  for (const Argument& argument : line.arguments) sum += argument.value;
  if (sum > 1.0 + kSumTolerance) {
    read_error(line.arguments.front().at,
               "the probabilities of " + std::string(line.name()) + " add up to more than 1");
  }
  return sum;
}

void check_observable_index(const Line& line, std::uint64_t detectors) {
  const Argument& index = line.arguments[0];
  if (!(index.value >= 0.0 && index.value < 9007199254740992.0) || index.value != std::floor(index.value)) {
    read_error(index.at, "the observable index must be a non-negative integer");
  }
  const auto observable = static_cast<std::uint64_t>(index.value);
  if (observable >= kMaxRecordEntries || detectors + observable + 1 > kMaxRecordEntries) {
    record_too_large(index.at, "observable record");
  }
}

// The kinds of target an instruction takes.
struct Accepts {
  bool qubits = true;      // plain indices
  bool inverted = false;   // !q, !X0
  bool records = false;    // rec[-k]
  bool paulis = false;     // X0, Y1, Z2
  bool combiners = false;  // '*'
};

// Refuses every target of a kind the instruction does not take; the
// scan runs only when the flags gathered while reading show one.
void check_kinds(const Line& line, std::span<const Target> targets, Accepts accepts) {
  const Target refused = (accepts.inverted ? 0 : kInvertedFlag) | (accepts.records ? 0 : kRecordFlag) |
                         (accepts.paulis ? 0 : kPauliBits) | (accepts.combiners ? 0 : kCombinerMark) |
                         kSweepMark;
  if ((line.flags() & refused) == 0 && accepts.qubits) return;
  const std::string name(line.name());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const Target t = targets[i];
    if (t == kCombinerMark) {
      if (!accepts.combiners)
        read_error(line.target_at(i), name + " takes no '*': it joins the Pauli targets of a product");
      continue;
    }
    if (is_sweep(t)) read_error(line.target_at(i), name + " takes no sweep[k] targets");
    if (is_record(t)) {
      if (!accepts.records) {
        read_error(line.target_at(i),
                   name + (accepts.paulis ? " takes Pauli targets such as X0, not measurement records"
                                          : " takes qubit targets, not measurement records"));
      }
      continue;
    }
    if (is_pauli(t)) {
      if (!accepts.paulis)
        read_error(line.target_at(i), name + " takes qubit targets, not Pauli targets such as X0");
    } else if (!accepts.qubits) {
      read_error(line.target_at(i),
                 name + (accepts.records ? " takes measurement records rec[-k] and Pauli targets such as X0, "
                                           "not bare qubit indices"
                                         : " takes Pauli targets such as X0, not bare qubit indices"));
    }
    if (is_inverted(t) && !accepts.inverted)
      read_error(line.target_at(i), name + " takes no inverted (!) targets");
  }
}

void check_look_back(const Line& line, Target target, std::size_t index, std::uint64_t measurements) {
  const std::uint64_t back = value_of(target);
  if (back > measurements) {
    read_error(line.target_at(index), "rec[-" + std::to_string(back) +
                                          "] reaches before the first measurement (" +
                                          std::to_string(measurements) + " made so far)");
  }
}

void check_records(const Line& line, std::span<const Target> targets, std::uint64_t measurements) {
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (!is_record(targets[i])) {
      read_error(line.target_at(i),
                 std::string(line.name()) + " takes only measurement record targets rec[-k]");
    }
    check_look_back(line, targets[i], i, measurements);
  }
}

bool is_classical(Target t) { return is_record(t) || is_sweep(t); }

// Targets in pairs of distinct qubits.  A controlled gate takes a record
// bit rec[-k] or a sweep bit sweep[k] where it reads Z; nothing else
// takes either.
void check_pairs(const Line& line, std::span<const Target> targets, std::uint64_t measurements,
                 bool inverted_allowed) {
  const std::string name(line.name());
  if (targets.size() % 2 != 0) {
    read_error(targets.empty() ? line.start : line.target_at(targets.size() - 1),
               name + " takes targets in pairs; this one has no partner");
  }
  const InstructionRecord& record = line.record();
  const bool controlled = record.kind == Kind::two_qubit && record.steps.is_controlled();
  if (line.flags() != 0) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const Target t = targets[k];
      if (t == kCombinerMark)
        read_error(line.target_at(k), name + " takes no '*': it joins the Pauli targets of a product");
      if (is_pauli(t))
        read_error(line.target_at(k), name + " takes qubit targets, not Pauli targets such as X0");
      if (is_inverted(t) && !inverted_allowed)
        read_error(line.target_at(k), name + " takes no inverted (!) targets");
      if (!is_classical(t)) continue;
      const bool is_record_bit = is_record(t);
      if (!controlled) {
        read_error(line.target_at(k), name + (is_record_bit ? " takes qubit targets, not measurement records"
                                                            : " takes no sweep[k] targets"));
      }
      const ControlLetters letters = record.steps.letters();
      if ((k % 2 == 0 ? letters.first : letters.second) != Axis::z) {
        read_error(line.target_at(k), std::string(is_record_bit ? "a measurement record" : "a sweep bit") +
                                          " can only stand where " + name +
                                          " reads Z (as in CX rec[-1] q or CZ q rec[-1])");
      }
      if (is_record_bit) check_look_back(line, t, k, measurements);
    }
  }
  for (std::size_t i = 0; i < targets.size(); i += 2) {
    const Target a = targets[i], b = targets[i + 1];
    if (!is_classical(a) && !is_classical(b) && value_of(a) == value_of(b)) {
      read_error(line.target_at(i + 1),
                 name + " acts on qubit " + std::to_string(value_of(a)) + " twice in one pair");
    }
  }
}

// The parens arguments: how many, then what they must be, as the
// instruction's record says.  Returns the sum of disjoint probabilities.
double check_arguments(const Line& line, std::uint64_t detectors) {
  const ArgumentRule rule = line.record().arguments;
  if (rule.high != kAnyCount) expect_arguments(line, rule.low, rule.high);
  switch (rule.meaning) {
    case Meaning::probability: check_probabilities(line.arguments); return 0.0;
    case Meaning::disjoint: return check_disjoint(line);
    case Meaning::index: check_observable_index(line, detectors); return 0.0;
    case Meaning::none:
    case Meaning::coordinates:
    case Meaning::repeat_count: return 0.0;
  }
  return 0.0;
}

// The line's targets, as the instruction's record says it takes them.
// Returns whether they are qubits of the register.
bool check_line_targets(const Line& line, std::span<const Target> targets, std::uint64_t measurements) {
  switch (line.record().targets) {
    case Targets::none:
      if (!targets.empty()) read_error(line.target_at(0), std::string(line.name()) + " takes no targets");
      return false;
    case Targets::qubits: check_kinds(line, targets, {}); return true;
    case Targets::inverted_qubits: check_kinds(line, targets, {.inverted = true}); return true;
    case Targets::pairs: check_pairs(line, targets, measurements, false); return true;
    case Targets::inverted_pairs: check_pairs(line, targets, measurements, true); return true;
    case Targets::products:
    case Targets::paulis:
      check_kinds(line, targets, {.qubits = false, .inverted = true, .paulis = true, .combiners = true});
      return true;
    case Targets::records: check_records(line, targets, measurements); return false;
    case Targets::records_and_paulis:
      check_kinds(line, targets, {.qubits = false, .inverted = true, .records = true, .paulis = true});
      for (std::size_t i = 0; i < targets.size(); ++i) {
        if (is_record(targets[i])) check_look_back(line, targets[i], i, measurements);
      }
      return true;
    case Targets::bits:
      check_kinds(line, targets, {});
      for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i] > 1) {
          read_error(line.target_at(i),
                     "MPAD takes the bits 0 and 1 as targets, found " + std::to_string(targets[i]));
        }
      }
      return false;
  }
  return false;
}

}  // namespace

CheckedLine check_line(const Line& line, std::span<const Target> targets, std::uint64_t measurements,
                       std::uint64_t detectors) {
  const double sum = check_arguments(line, detectors);
  return {sum, check_line_targets(line, targets, measurements)};
}

}  // namespace ordavine::circuit::reading
