#include "shot_data/format.hpp"

#include <array>
#include <string>

#include "failure/failure.hpp"

namespace ordavine::shot_data {
namespace {

struct NamedFormat {
  std::string_view name;
  ShotFormat format;
};

// In the order the refusal lists them.
constexpr std::array<NamedFormat, 6> kFormats{{
    {"01", ShotFormat::f01},
    {"b8", ShotFormat::b8},
    {"r8", ShotFormat::r8},
    {"ptb64", ShotFormat::ptb64},
    {"hits", ShotFormat::hits},
    {"dets", ShotFormat::dets},
}};

}  // namespace

ShotFormat parse_shot_format(std::string_view name) {
  for (const NamedFormat& entry : kFormats) {
    if (entry.name == name) return entry.format;
  }
  std::string list;
  for (const NamedFormat& entry : kFormats) {
    if (!list.empty()) list += ", ";
    list += entry.name;
  }
  throw InvalidInput("unknown shot data format '" + std::string(name) + "': the formats are " + list);
}

std::string_view shot_format_name(ShotFormat format) {
  for (const NamedFormat& entry : kFormats) {
    if (entry.format == format) return entry.name;
  }
  fail("a shot data format without a name: " + std::to_string(static_cast<int>(format)));
}

std::uint64_t shot_group_size(ShotFormat format) { return format == ShotFormat::ptb64 ? 64 : 1; }

void check_shot_count(ShotFormat format, std::uint64_t shots) {
  const std::uint64_t group = shot_group_size(format);
  if (shots % group != 0) {
    throw InvalidInput("the " + std::string(shot_format_name(format)) +
                       " format needs a shot count that is a multiple of " + std::to_string(group) +
                       ", but the shot count is " + std::to_string(shots));
  }
}

}  // namespace ordavine::shot_data
