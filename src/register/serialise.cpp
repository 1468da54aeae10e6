#include "register/serialise.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace ordavine {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'O', 'R', 'D', 'V'};
constexpr std::uint8_t kVopCount = 24;
static_assert(ADJOINT_TABLE.size() == kVopCount, "one byte per VOP, numbered 0..23");
constexpr std::size_t kHeaderSize = kMagic.size() + 1 + 8;
static_assert(kHeaderSize == kSavedHeaderSize);

constexpr std::size_t index_width(std::uint64_t n) { return n <= (std::uint64_t{1} << 32) ? 4 : 8; }

void put(std::uint8_t*& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) *out++ = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t get(const std::uint8_t* in, std::size_t width) {
  if constexpr (std::endian::native == std::endian::little) {
    if (width == 4) {
      std::uint32_t value;
      std::memcpy(&value, in, 4);
      return value;
    }
    std::uint64_t value;
    std::memcpy(&value, in, 8);
    return value;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{in[i]} << (8 * i);
  return value;
}

[[noreturn]] void refuse(const std::string& what) { throw InvalidInput("invalid saved state: " + what); }

std::string q(std::uint64_t value) { return std::to_string(value); }

// Reads the fixed-width fields in order, refusing to run past the end.
class Reader {
 public:
  Reader(std::span<const std::uint8_t> data, std::size_t width) : data_(data), width_(width) {}
  std::size_t remaining_fields() const { return (data_.size() - position_) / width_; }
  std::uint64_t field(const char* what, std::uint64_t qubit) {
    if (data_.size() - position_ < width_) {
      refuse("truncated in the " + std::string(what) + " of qubit " + q(qubit));
    }
    const std::uint64_t value = get(data_.data() + position_, width_);
    position_ += width_;
    return value;
  }
  // The next `count` fields, already known to be there.
  const std::uint8_t* take(std::uint64_t count) {
    const std::uint8_t* start = data_.data() + position_;
    position_ += static_cast<std::size_t>(count) * width_;
    return start;
  }
  bool at_end() const { return position_ == data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t width_;
  std::size_t position_ = 0;
};

// Every list free of self loops and repeats, and every edge listed on both
// sides, in O(n + edges): each qubit's list is compared, through a stamp
// per qubit, with the qubits whose lists name it (an inverted index).
template <class Entry>
void check_lists(const Register& reg) {
  const std::size_t n = reg.size();
  std::vector<std::size_t> named_by_count(n + 1, 0);
  for (Qubit a = 0; a < n; ++a) {
    for (const Qubit b : reg[a].neighbors) ++named_by_count[b + 1];
  }
  for (std::size_t i = 0; i < n; ++i) named_by_count[i + 1] += named_by_count[i];
  std::vector<Entry> named_by(named_by_count[n]);
  {
    std::vector<std::size_t> fill(named_by_count.begin(), named_by_count.end() - 1);
    for (Qubit a = 0; a < n; ++a) {
      for (const Qubit b : reg[a].neighbors) named_by[fill[b]++] = static_cast<Entry>(a);
    }
  }
  constexpr Qubit kUnstamped = std::numeric_limits<Qubit>::max();
  std::vector<Qubit> stamp(n, kUnstamped);
  for (Qubit a = 0; a < n; ++a) {
    for (const Qubit b : reg[a].neighbors) {
      if (b == a) refuse("qubit " + q(a) + " lists itself as a neighbour");
      if (stamp[b] == a) refuse("qubit " + q(a) + " lists neighbour " + q(b) + " twice");
      stamp[b] = a;
    }
    // Every entry of every list is some (c, a) and is checked here against
    // a's own list, so this alone proves the adjacency symmetric.
    for (std::size_t i = named_by_count[a]; i < named_by_count[a + 1]; ++i) {
      const Qubit c = named_by[i];
      if (stamp[c] != a) {
        refuse("edge " + q(c) + "-" + q(a) + " is listed by qubit " + q(c) + " but not by qubit " + q(a));
      }
    }
  }
}

}  // namespace

std::size_t saved_size(const Register& reg) {
  const std::size_t width = index_width(reg.size());
  std::size_t fields = reg.size();
  for (const Node& node : reg.nodes()) fields += node.neighbors.size();
  return kHeaderSize + reg.size() + width * fields;
}

void save_register(const Register& reg, std::span<std::uint8_t> out) {
  if (out.size() != saved_size(reg)) fail("saved form written into a buffer of the wrong size");
  const std::size_t width = index_width(reg.size());
  std::uint8_t* cursor = out.data();
  for (const std::uint8_t byte : kMagic) *cursor++ = byte;
  *cursor++ = kSavedVersion;
  put(cursor, reg.size(), 8);
  for (const Node& node : reg.nodes()) *cursor++ = node.vop;
  for (const Node& node : reg.nodes()) {
    put(cursor, node.neighbors.size(), width);
    if (width == 4) {
      for (const Qubit b : node.neighbors) put(cursor, b, 4);
    } else {
      for (const Qubit b : node.neighbors) put(cursor, b, 8);
    }
  }
}

void check_saved_header(std::span<const std::uint8_t> head, std::size_t size) {
  if (size < kHeaderSize) refuse("truncated header (" + q(size) + " bytes)");
  if (head.size() < kHeaderSize) fail("saved-state header checked without its bytes");
  for (std::size_t i = 0; i < kMagic.size(); ++i) {
    if (head[i] != kMagic[i]) refuse("bad magic, not a saved Ordavine register");
  }
  const std::uint8_t version = head[kMagic.size()];
  if (version != kSavedVersion) refuse("unsupported version " + q(version));
  const std::uint64_t n = get(head.data() + kMagic.size() + 1, 8);
  // Each qubit takes at least its VOP byte and its degree.
  const std::uint64_t available = size - kHeaderSize;
  if (n > available / (1 + index_width(n)))
    refuse("truncated: " + q(n) + " qubits cannot fit in " + q(size) + " bytes");
}

Register load_register(std::span<const std::uint8_t> data) {
  check_saved_header(data.first(std::min(data.size(), kHeaderSize)), data.size());
  const std::uint64_t n = get(data.data() + kMagic.size() + 1, 8);
  const std::size_t width = index_width(n);

  const auto vops = data.subspan(kHeaderSize, static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < vops.size(); ++i) {
    if (vops[i] >= kVopCount) refuse("VOP " + q(vops[i]) + " of qubit " + q(i) + " is not below 24");
  }
  Register reg(static_cast<std::size_t>(n));
  Reader reader(data.subspan(kHeaderSize + static_cast<std::size_t>(n)), width);
  for (Qubit a = 0; a < n; ++a) {
    Node& node = reg[a];
    node.vop = static_cast<Vop>(vops[a]);
    const std::uint64_t degree = reader.field("degree", a);
    // The lists still to come need at least one degree field per qubit.
    const std::uint64_t later_degrees = n - a - 1;
    if (degree > reader.remaining_fields() || reader.remaining_fields() - degree < later_degrees) {
      refuse("truncated in the neighbours of qubit " + q(a) + " (degree " + q(degree) + ")");
    }
    node.neighbors.reserve(static_cast<std::size_t>(degree));
    const std::uint8_t* entries = reader.take(degree);
    for (std::uint64_t i = 0; i < degree; ++i) {
      const std::uint64_t b = get(entries + i * width, width);
      if (b >= n) refuse("neighbour " + q(b) + " of qubit " + q(a) + " is not below the size " + q(n));
      node.neighbors.push_back(static_cast<Qubit>(b));
    }
  }
  if (!reader.at_end()) refuse("trailing bytes after the last neighbour list");
  if (width == 4) {
    check_lists<std::uint32_t>(reg);
  } else {
    check_lists<std::uint64_t>(reg);
  }
  return reg;
}

}  // namespace ordavine
