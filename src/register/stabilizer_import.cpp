#include "register/stabilizer_import.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "register/utf8_text.hpp"

namespace ordavine {
namespace {

using Word = std::uint64_t;

[[noreturn]] void refuse(const std::string& what) { throw InvalidInput("invalid stabilizers: " + what); }

std::string text_of(std::size_t value) { return std::to_string(value); }

// n signed Pauli strings as bit rows: row r's X bits, then its Z bits, each
// `words` words long.  (x, z) = (1, 1) is Y itself, not XZ.
class PauliRows {
 public:
  PauliRows(std::size_t rows, std::size_t qubits)
      : rows_(rows), words_((qubits + 63) / 64), bits_(rows * 2 * words_, 0), negative_(rows, 0) {}

  std::size_t rows() const { return rows_; }
  std::size_t words() const { return words_; }
  Word* x(std::size_t r) { return bits_.data() + r * 2 * words_; }
  Word* z(std::size_t r) { return x(r) + words_; }
  const Word* x(std::size_t r) const { return bits_.data() + r * 2 * words_; }
  const Word* z(std::size_t r) const { return x(r) + words_; }
  bool x_bit(std::size_t r, std::size_t q) const { return (x(r)[q / 64] >> (q % 64)) & 1; }
  bool z_bit(std::size_t r, std::size_t q) const { return (z(r)[q / 64] >> (q % 64)) & 1; }
  std::uint8_t& negative(std::size_t r) { return negative_[r]; }

  void set(std::size_t r, std::size_t q, bool x_part, bool z_part) {
    const Word bit = Word{1} << (q % 64);
    x(r)[q / 64] = x_part ? (x(r)[q / 64] | bit) : (x(r)[q / 64] & ~bit);
    z(r)[q / 64] = z_part ? (z(r)[q / 64] | bit) : (z(r)[q / 64] & ~bit);
  }

  // Row `into` becomes (row into) * (row from), phase included.  Returns
  // false, changing nothing, when the product is anti-Hermitian: the two
  // rows anticommute.
  //
  // The power of i that a product of one-qubit Paulis picks up is +1 for
  // XY, YZ, ZX and -1 for XZ, YX, ZY.  Per bit position a two-bit counter,
  // kept bit-sliced across the words, sums them modulo 4; two popcounts per
  // row operation read it out.
  bool multiply_into(std::size_t into, std::size_t from) {
    Word* x1 = x(into);
    Word* z1 = z(into);
    const Word* x2 = x(from);
    const Word* z2 = z(from);
    Word low = 0, high = 0;
    for (std::size_t w = 0; w < words_; ++w) {
      const Word a = x1[w], b = z1[w], c = x2[w], d = z2[w];
      const Word plus = (a & ~b & c & d) | (a & b & ~c & d) | (~a & b & c & ~d);
      const Word minus = (a & ~b & ~c & d) | (a & b & c & ~d) | (~a & b & c & d);
      Word carry = low & plus;
      low ^= plus;
      high ^= carry;
      const Word borrow = ~low & minus;
      low ^= minus;
      high ^= borrow;
    }
    const unsigned power = static_cast<unsigned>(std::popcount(low) + 2 * std::popcount(high)) % 4;
    if (power % 2 != 0) return false;
    for (std::size_t w = 0; w < words_; ++w) {
      x1[w] ^= x2[w];
      z1[w] ^= z2[w];
    }
    negative_[into] ^= negative_[from] ^ static_cast<std::uint8_t>(power / 2);
    return true;
  }

  // Applies gate `g` to qubit q of every row: P becomes g P g^dagger.
  void conjugate(std::size_t q, Vop g) {
    for (std::size_t r = 0; r < rows_; ++r) {
      const bool xb = x_bit(r, q), zb = z_bit(r, q);
      if (!xb && !zb) continue;
      const Axis axis = xb ? (zb ? Axis::y : Axis::x) : Axis::z;
      const Axis image = conj_axis(g, axis);
      negative_[r] ^= conj_sign_negative(g, axis) ? 1 : 0;
      set(r, q, image != Axis::z, image != Axis::x);
    }
  }

 private:
  std::size_t rows_;
  std::size_t words_;
  std::vector<Word> bits_;
  std::vector<std::uint8_t> negative_;
};

// Refuses a malformed generator, before anything is allocated for the
// rows: a long list of short generators claims a large register.  Lengths
// and positions count characters, so a letter outside ASCII is one.
void check_generator(std::string_view text, std::size_t r, std::size_t n) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  if (at < text.size() && text[at] == 'i') {
    refuse("generator " + text_of(r) + " has an imaginary sign, so it is not Hermitian");
  }
  const std::size_t letters = utf8::character_count(text.substr(at));
  if (letters != n) {
    refuse("generator " + text_of(r) + " has " + text_of(letters) + " qubits, but " + text_of(n) +
           " generators are given (one per qubit)");
  }
  // Every byte up to the first one outside ASCII is a character, and that
  // one is refused: byte and character positions agree up to it.
  for (std::size_t q = 0; q < n; ++q) {
    const char c = text[at + q];
    if (c != '_' && c != 'I' && c != 'X' && c != 'Y' && c != 'Z') {
      refuse("generator " + text_of(r) + ", character " + text_of(at + q + 1) + ": " +
             utf8::describe_character(text, at + q) + " is not one of _, I, X, Y, Z");
    }
  }
}

PauliRows parse(std::span<const std::string_view> generators) {
  const std::size_t n = generators.size();
  for (std::size_t r = 0; r < n; ++r) check_generator(generators[r], r, n);
  PauliRows rows(n, n);
  for (std::size_t r = 0; r < n; ++r) {
    std::string_view text = generators[r];
    std::size_t at = 0;
    if (text[at] == '+' || text[at] == '-') rows.negative(r) = text[at++] == '-';  // not empty: n >= 1
    for (std::size_t q = 0; q < n; ++q) {
      switch (text[at + q]) {
        case 'X': rows.set(r, q, true, false); break;
        case 'Y': rows.set(r, q, true, true); break;
        case 'Z': rows.set(r, q, false, true); break;
        default: break;  // '_' or 'I'
      }
    }
  }
  return rows;
}

bool anticommute(const PauliRows& rows, std::size_t i, std::size_t j) {
  unsigned parity = 0;
  for (std::size_t w = 0; w < rows.words(); ++w) {
    parity ^=
        static_cast<unsigned>(std::popcount((rows.x(i)[w] & rows.z(j)[w]) ^ (rows.z(i)[w] & rows.x(j)[w])));
  }
  return parity % 2 != 0;
}

// The conversion failed, so the generators anticommute or are dependent;
// names the first pair that anticommutes, else the first generator that is
// a product of the ones before it.
[[noreturn]] void refuse_with_reason(const PauliRows& original) {
  const std::size_t n = original.rows();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      if (anticommute(original, i, j)) {
        refuse("generators " + text_of(i) + " and " + text_of(j) + " anticommute");
      }
    }
  }
  // Incremental elimination over all 2n bits, signs ignored.
  const std::size_t words = original.words();
  std::vector<Word> basis;
  std::vector<std::size_t> pivot_bit;
  std::vector<Word> row(2 * words);
  for (std::size_t r = 0; r < n; ++r) {
    std::copy(original.x(r), original.x(r) + 2 * words, row.begin());
    for (std::size_t b = 0; b < pivot_bit.size(); ++b) {
      if ((row[pivot_bit[b] / 64] >> (pivot_bit[b] % 64)) & 1) {
        for (std::size_t w = 0; w < 2 * words; ++w) row[w] ^= basis[b * 2 * words + w];
      }
    }
    std::size_t first = 2 * words * 64;
    for (std::size_t w = 0; w < 2 * words; ++w) {
      if (row[w] != 0) {
        first = w * 64 + static_cast<std::size_t>(std::countr_zero(row[w]));
        break;
      }
    }
    if (first == 2 * words * 64) {
      if (std::all_of(original.x(r), original.x(r) + 2 * words, [](Word w) { return w == 0; })) {
        refuse("generator " + text_of(r) + " is the identity (up to sign)");
      }
      refuse("generators are not independent: generator " + text_of(r) +
             " is, up to sign, a product of generators before it");
    }
    basis.insert(basis.end(), row.begin(), row.end());
    pivot_bit.push_back(first);
  }
  fail("stabilizer conversion failed on commuting, independent generators");
}

constexpr std::size_t kNone = ~std::size_t{0};

}  // namespace

Register register_from_stabilizers(std::span<const std::string_view> generators) {
  const std::size_t n = generators.size();
  if (n > kMaxQubits) fail_capacity();
  PauliRows rows = parse(generators);
  const PauliRows original = rows;
  std::vector<std::size_t> pivot_row(n, kNone);  // the row whose X part is X on qubit c
  std::vector<std::uint8_t> used(n, 0);
  std::vector<Vop> applied(n, vop::identity);  // V on each qubit, as a VOP

  const auto eliminate = [&](std::size_t c) {
    std::size_t pivot = kNone;
    for (std::size_t r = 0; r < n; ++r) {
      if (!used[r] && rows.x_bit(r, c)) {
        pivot = r;
        break;
      }
    }
    if (pivot == kNone) return false;
    used[pivot] = 1;
    pivot_row[c] = pivot;
    for (std::size_t r = 0; r < n; ++r) {
      if (r != pivot && rows.x_bit(r, c) && !rows.multiply_into(r, pivot)) refuse_with_reason(original);
    }
    return true;
  };
  const auto apply = [&](std::size_t q, Vop gate) {
    rows.conjugate(q, gate);
    applied[q] = MULT_TABLE[gate][applied[q]];
  };

  // 1. Pivots on the X block as it stands.
  std::vector<std::size_t> without_pivot;
  for (std::size_t c = 0; c < n; ++c) {
    if (!eliminate(c)) without_pivot.push_back(c);
  }
  // 2. H on the rest, then pivots there.
  for (const std::size_t c : without_pivot) apply(c, vop::hadamard);
  for (const std::size_t c : without_pivot) {
    if (!eliminate(c)) refuse_with_reason(original);
  }
  // 3. Y on the diagonal to X; the Z block must be symmetric.
  for (std::size_t c = 0; c < n; ++c) {
    if (rows.z_bit(pivot_row[c], c)) apply(c, vop::s_dagger);
  }
  for (std::size_t c = 0; c < n; ++c) {
    for (std::size_t d = c + 1; d < n; ++d) {
      if (rows.z_bit(pivot_row[c], d) != rows.z_bit(pivot_row[d], c)) refuse_with_reason(original);
    }
  }
  for (std::size_t c = 0; c < n; ++c) {
    if (rows.negative(pivot_row[c])) apply(c, vop::pauli_z);
  }

  // 4. The graph, lists ascending, and the VOPs.
  Register reg(n);
  for (std::size_t c = 0; c < n; ++c) {
    const Word* z = rows.z(pivot_row[c]);
    std::size_t degree = 0;
    for (std::size_t w = 0; w < rows.words(); ++w) degree += static_cast<std::size_t>(std::popcount(z[w]));
    NeighbourList& list = reg[c].neighbors;
    list.reserve(degree);
    for (std::size_t w = 0; w < rows.words(); ++w) {
      for (Word bits = z[w]; bits != 0; bits &= bits - 1) {
        list.push_back(static_cast<NeighbourList::value_type>(
            w * 64 + static_cast<std::size_t>(std::countr_zero(bits))));
      }
    }
    reg[c].vop = ADJOINT_TABLE[applied[c]];
  }
  return reg;
}

}  // namespace ordavine
