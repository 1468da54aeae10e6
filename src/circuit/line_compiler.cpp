#include "circuit/line_compiler.hpp"

#include "circuit/line_checks.hpp"
#include "circuit/target_rewriting.hpp"
#include "failure/failure.hpp"

namespace ordavine::circuit::reading {

void compile_line(const Line& line, ProgramBuilder& builder) {
  const InstructionRecord& record = line.record();
  const CheckedLine checked =
      check_line(line, builder.line_targets(), builder.measurements(), builder.detectors());
  if (checked.names_qubits) builder.note_qubits(line);
  const double sum = checked.disjoint_sum;
  const std::size_t targets = builder.line_target_count();
  std::vector<Target>& out = builder.target_array();
  switch (record.kind) {
    case Kind::single_qubit:
      if (targets != 0 && record.vop != vop::identity)
        builder.emit({.code = Opcode::single_qubit, .vop = record.vop}, line);
      return;
    case Kind::two_qubit:
      if (has_classical_bits(line.flags())) drop_classical_pairs(builder.take_line_targets(), out);
      if (builder.line_target_count() != 0)
        builder.emit({.code = Opcode::two_qubit, .gate = record.gate}, line);
      return;
    case Kind::measure:
    case Kind::measure_reset:
      if (targets != 0) {
        const Opcode code = record.kind == Kind::measure ? Opcode::measure : Opcode::measure_reset;
        builder.emit({.code = code, .axis = record.axis}, line, Kept::each);
      }
      builder.add_measurements(line.start, targets);
      return;
    case Kind::reset:
      if (targets != 0) builder.emit({.code = Opcode::reset, .axis = record.axis}, line);
      return;
    case Kind::measure_pair: {
      const std::size_t pairs = compile_pair_products(builder.take_line_targets(), record.axis, out);
      if (pairs != 0) builder.emit({.code = Opcode::measure_product}, line, Kept::each);
      builder.add_measurements(line.start, pairs);
      return;
    }
    case Kind::measure_product: {
      const std::size_t products = compile_products(line, builder.take_line_targets(), out);
      if (products != 0) builder.emit({.code = Opcode::measure_product}, line, Kept::each);
      builder.add_measurements(line.start, products);
      return;
    }
    case Kind::rotate_product: {
      const std::size_t products = compile_products(line, builder.take_line_targets(), out);
      if (products != 0)
        builder.emit({.code = Opcode::rotate_product, .dagger = record.dagger}, line, Kept::each);
      return;
    }
    case Kind::pad:
      if (targets != 0) builder.emit({.code = Opcode::pad}, line, Kept::each);
      builder.add_measurements(line.start, targets);
      return;
    case Kind::pauli_error:
      if (targets != 0 && line.arguments[0].value > 0.0)
        builder.emit({.code = Opcode::pauli_error, .axis = record.axis}, line, Kept::each);
      return;
    case Kind::depolarize1:
      if (targets != 0 && line.arguments[0].value > 0.0)
        builder.emit({.code = Opcode::depolarize1}, line, Kept::each);
      return;
    case Kind::depolarize2:
      if (targets != 0 && line.arguments[0].value > 0.0)
        builder.emit({.code = Opcode::depolarize2}, line, Kept::each);
      return;
    case Kind::pauli_channel_1:
      if (targets != 0 && sum > 0.0) builder.emit({.code = Opcode::pauli_channel_1}, line, Kept::cumulative);
      return;
    case Kind::pauli_channel_2:
      if (targets != 0 && sum > 0.0) builder.emit({.code = Opcode::pauli_channel_2}, line, Kept::cumulative);
      return;
    case Kind::correlated_error:
      compile_unsigned_paulis(builder.take_line_targets(), out);
      // E always runs: it starts a new chain even when it cannot fire.
      if (!record.else_branch || line.arguments[0].value > 0.0) {
        builder.emit({.code = Opcode::correlated_error, .else_branch = record.else_branch}, line, Kept::each);
      }
      return;
    case Kind::heralded_erase:
      // The format accepts `!` here; a herald is never inverted.
      if (targets != 0) builder.emit({.code = Opcode::heralded_erase}, line, Kept::each);
      builder.add_measurements(line.start, targets);
      return;
    case Kind::heralded_pauli_channel_1:
      if (targets != 0) builder.emit({.code = Opcode::heralded_pauli_channel_1}, line, Kept::cumulative);
      builder.add_measurements(line.start, targets);
      return;
    case Kind::detector:
      builder.emit({.code = Opcode::detector}, line);
      builder.add_detector(line.start);
      return;
    case Kind::observable_include: {
      const auto observable = static_cast<std::uint64_t>(line.arguments[0].value);
      builder.include_observable(observable);
      if ((line.flags() & kPauliBits) != 0) compile_unsigned_paulis(builder.take_line_targets(), out);
      builder.emit({.code = Opcode::observable_include, .observable = observable}, line);
      return;
    }
    case Kind::pair_identity:
    case Kind::identity_error:
    case Kind::tick:
    case Kind::qubit_coords:
    case Kind::shift_coords: return;  // checked; nothing runs
    case Kind::repeat: break;
  }
  fail("instruction kind without a compilation");
}

}  // namespace ordavine::circuit::reading
