#include "circuit/reader.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "circuit/instructions.hpp"
#include "circuit/line.hpp"
#include "circuit/line_compiler.hpp"
#include "circuit/program_builder.hpp"
#include "circuit/target_reader.hpp"
#include "circuit/text_scanner.hpp"

namespace ordavine::circuit {
namespace {

using reading::Argument;
using reading::ProgramBuilder;
using reading::TextScanner;

// The instruction a name names, read without regard to case.
std::optional<NamedInstruction> find_named(std::string_view name) {
  constexpr std::size_t kLongestName = 24;
  if (name.size() > kLongestName) return std::nullopt;
  char upper[kLongestName];
  for (std::size_t i = 0; i < name.size(); ++i) upper[i] = reading::to_upper(name[i]);
  return find_instruction(std::string_view(upper, name.size()));
}

// The rest of a REPEAT line after its name: the count and the '{'.
void open_block(TextScanner& text, ProgramBuilder& builder, SourcePosition start) {
  text.skip_blanks();
  builder.expect_room_for_block(start);
  const std::uint64_t count = text.read_integer(std::numeric_limits<std::int64_t>::max(), "repeat count");
  if (count == 0) reading::read_error(start, "REPEAT 0 is not allowed: a block runs at least once");
  text.skip_blanks();
  if (text.peek() != '{')
    text.error_here("expected '{' after the repeat count, found " + reading::describe_byte(text.peek()));
  text.advance();
  builder.open_block(count, start);
}

// One line: blank or a comment, a block's '}', or an instruction with its
// tag, arguments and targets, compiled into the builder.  `arguments` is
// room kept from line to line.
void read_line(TextScanner& text, ProgramBuilder& builder, std::vector<Argument>& arguments) {
  text.skip_blanks();
  if (text.at_line_end()) return text.finish_line();
  const SourcePosition start = text.here();
  if (text.peek() == '}') {
    text.advance();
    builder.close_block(start);
    return text.finish_line();
  }
  if (!reading::is_name_char(text.peek()) || reading::is_digit(text.peek())) {
    text.error_here("expected an instruction name, found " + reading::describe_byte(text.peek()));
  }
  const std::string_view name = text.read_name();
  const std::optional<NamedInstruction> entry = find_named(name);
  if (!entry)
    reading::read_error(start, "unknown or unsupported instruction '" + reading::shown_name(name) + "'");
  if (text.peek() == '[') text.skip_tag();
  if (entry->record->kind == Kind::repeat) {
    open_block(text, builder, start);
    return text.finish_line();
  }
  text.read_arguments(arguments);
  builder.begin_line();
  const reading::TargetSummary summary = reading::read_targets(text, builder.target_array());
  reading::compile_line({*entry, start, arguments, summary, &text}, builder);
  builder.end_line();
  text.finish_line();
}

}  // namespace

Program read_circuit(std::string_view text) {
  TextScanner scanner(text);
  ProgramBuilder builder;
  std::vector<Argument> arguments;
  while (!scanner.at_end()) read_line(scanner, builder, arguments);
  return builder.finish();
}

}  // namespace ordavine::circuit
