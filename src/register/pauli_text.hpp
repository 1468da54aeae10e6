// Pauli products written as text, in the two forms Stim writes them:
//
//  - the product syntax of the circuit format: factors such as `X0`, `y12`
//    or `Z7` (letter in either case, then the qubit's decimal index) joined
//    by `*`, each optionally preceded by `!`;
//  - the dense form, used when the text holds no digit, `*` or `!`: one
//    letter per qubit from qubit 0 on, `_` or `I` for the identity
//    (`XZ_Y`), at most as many as the register has qubits;
//
// either optionally preceded by `+` or `-`.  `-` and every `!` negate the
// product.  The empty text, and a lone sign, are the identity.
//
// The text comes from outside: anything else is refused with InvalidInput
// naming the text, the column (in bytes, from 1) and what is wrong, before
// anything is changed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "register/pauli_product.hpp"

namespace ordavine {

// Reads `text` into its factors, in written order (a qubit may stand more
// than once; reduce_product combines them), and whether it is negated.
// Every index must be below `size`.
void parse_pauli_product(std::string_view text, std::size_t size, bool& negative,
                         std::vector<PauliFactor>& written);

// Parses, then reduces to one factor per qubit (reduce_product); a product
// whose factors multiply to +-i times a Pauli product is refused.
void read_pauli_product(std::string_view text, std::size_t size, bool& negative,
                        std::vector<PauliFactor>& factors);

// The canonical text of a reduced product: "-" when it is negated, then the
// factors joined by "*" ("-X0*Z5", "Y3"; "" and "-" for the identity).
std::string product_text(std::span<const PauliFactor> factors, bool negative);

}  // namespace ordavine
