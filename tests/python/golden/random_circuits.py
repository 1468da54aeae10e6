"""A seeded generator of circuit text over every instruction the reader accepts.

``random.Random(k)`` draws the same numbers on CPython and PyPy, so circuit
k is the same text on both interpreters and the golden corpus can generate
its random circuits instead of storing them.  The corpus digests the text
too, so a change to this generator shows up as a changed circuit text, not
as a puzzling change of outputs.

The circuits use every name of the format (aliases included) with every kind
of target it takes: inverted targets, Pauli targets and products (with
repeated qubits where the product stays Hermitian), feed-forward from
``rec[-k]`` and ``sweep[k]``, E/ELSE chains, nested REPEAT blocks, tags,
lower-case names, comments and numbers in both notations.
"""

import random

SINGLE_QUBIT_GATES = (
    "C_NXYZ", "C_NZYX", "C_XNYZ", "C_XYNZ", "C_XYZ", "C_ZNYX", "C_ZYNX", "C_ZYX",
    "H", "H_NXY", "H_NXZ", "H_NYZ", "H_XY", "H_XZ", "H_YZ", "I", "S", "S_DAG",
    "SQRT_X", "SQRT_X_DAG", "SQRT_Y", "SQRT_Y_DAG", "SQRT_Z", "SQRT_Z_DAG", "X", "Y", "Z",
)
TWO_QUBIT_GATES = (
    "CNOT", "CX", "CY", "CZ", "CXSWAP", "CZSWAP", "ISWAP", "ISWAP_DAG", "SQRT_XX", "SQRT_XX_DAG",
    "SQRT_YY", "SQRT_YY_DAG", "SQRT_ZZ", "SQRT_ZZ_DAG", "SWAP", "SWAPCX", "SWAPCZ",
    "XCX", "XCY", "XCZ", "YCX", "YCY", "YCZ", "ZCX", "ZCY", "ZCZ", "II",
)
# The gates that read Z on their first target (a record bit may stand
# there) or on their second.
FEED_FORWARD_FIRST = ("CNOT", "CX", "ZCX", "CY", "ZCY", "CZ", "ZCZ")
FEED_FORWARD_SECOND = ("CZ", "ZCZ", "XCZ", "YCZ")
MEASUREMENTS = ("M", "MX", "MY", "MZ", "MR", "MRX", "MRY", "MRZ")
RESETS = ("R", "RX", "RY", "RZ")
PAIR_MEASUREMENTS = ("MXX", "MYY", "MZZ")
PAULI_ERRORS = ("X_ERROR", "Y_ERROR", "Z_ERROR")
OTHER_INSTRUCTIONS = (
    "MPP", "SPP", "SPP_DAG", "MPAD", "DEPOLARIZE1", "DEPOLARIZE2", "PAULI_CHANNEL_1",
    "PAULI_CHANNEL_2", "E", "CORRELATED_ERROR", "ELSE_CORRELATED_ERROR", "HERALDED_ERASE",
    "HERALDED_PAULI_CHANNEL_1", "I_ERROR", "II_ERROR", "DETECTOR", "OBSERVABLE_INCLUDE",
    "TICK", "QUBIT_COORDS", "SHIFT_COORDS", "REPEAT",
)
# Every name the reader's table holds: 81 instructions and 12 aliases.
ALL_NAMES = (SINGLE_QUBIT_GATES + TWO_QUBIT_GATES + MEASUREMENTS + RESETS + PAIR_MEASUREMENTS
             + PAULI_ERRORS + OTHER_INSTRUCTIONS)

RECORDING = MEASUREMENTS + PAIR_MEASUREMENTS + ("MPP", "MPAD", "HERALDED_ERASE")

TAGS = ("t", "noise \\C model\\B", "a b")
MAX_DEPTH = 2  # REPEAT blocks nest at most this deep here, to keep records small

# The power of i in the product of two Pauli letters (XY = iZ, YX = -iZ, ...).
_PHASE = {("X", "Y"): 1, ("Y", "Z"): 1, ("Z", "X"): 1, ("Y", "X"): 3, ("Z", "Y"): 3, ("X", "Z"): 3}
_PRODUCT = {frozenset("XY"): "Z", frozenset("YZ"): "X", frozenset("XZ"): "Y"}


def is_hermitian(factors):
    """Whether a product of (qubit, letter) factors, in order, has a real phase."""
    power, held = 0, {}
    for qubit, letter in factors:
        mine = held.get(qubit)
        if mine is None:
            held[qubit] = letter
        elif mine == letter:
            del held[qubit]
        else:
            power += _PHASE[(mine, letter)]
            held[qubit] = _PRODUCT[frozenset((mine, letter))]
    return power % 2 == 0


class CircuitWriter:
    """Writes the lines of one random circuit on `qubits` qubits, counting the record."""

    def __init__(self, rng, qubits):
        self.rng = rng
        self.n = qubits
        self.measured = 0  # record entries made so far (in a REPEAT body: its first pass)
        self.names = set()  # the instruction names written, upper case

    # ---- pieces of a line ----------------------------------------------------

    def spell(self, name):
        """The name as written: sometimes in lower case, sometimes with a tag."""
        self.names.add(name)
        written = name.lower() if self.rng.random() < 0.1 else name
        if self.rng.random() < 0.1:
            written += f"[{self.rng.choice(TAGS)}]"
        return written

    def probability(self):
        """A probability for a single-probability channel: 0 and 1 included."""
        r = self.rng.random()
        if r < 0.06:
            return "0"
        if r < 0.09:
            return "1"
        value = self.rng.uniform(0.005, 0.3)
        return f"{value:.3f}" if r < 0.8 else f"{value:.2e}"

    def shares(self, count, high):
        """`count` probabilities for one channel, each below `high` (their sum at most 1)."""
        return ", ".join(f"{self.rng.uniform(0, high):.3f}" for _ in range(count))

    def optional_flip(self):
        """The `(p)` of a recording instruction, or nothing."""
        return f"({self.probability()})" if self.rng.random() < 0.3 else ""

    def qubits(self, count):
        return self.rng.sample(range(self.n), count)

    def inverted(self, qubit):
        return ("!" if self.rng.random() < 0.25 else "") + str(qubit)

    def letter(self):
        letter = self.rng.choice("XYZ")
        return letter.lower() if self.rng.random() < 0.1 else letter

    def lookback(self):
        return f"rec[-{self.rng.randint(1, min(self.measured, 8))}]"

    def product(self):
        """A Hermitian product text such as `X3*!Z1*Y1*Y1`, qubits repeated at times."""
        while True:
            factors = []
            for _ in range(self.rng.randint(1, 4)):
                reuse = factors and self.rng.random() < 0.25
                qubit = self.rng.choice(factors)[0] if reuse else self.rng.randrange(self.n)
                factors.append((qubit, self.rng.choice("XYZ")))
            if is_hermitian(factors):
                break
        combiner = " * " if self.rng.random() < 0.1 else "*"
        return combiner.join(("!" if self.rng.random() < 0.2 else "") + letter + str(qubit)
                             for qubit, letter in factors)

    def gate_pair(self, name):
        """One target pair of a two-qubit gate, a record or sweep bit where one may stand."""
        a, b = self.qubits(2)
        r = self.rng.random()
        if r < 0.3 and (name in FEED_FORWARD_FIRST or name in FEED_FORWARD_SECOND):
            bit = self.lookback() if self.measured and r < 0.22 else f"sweep[{self.rng.randrange(6)}]"
            if name == "CZ" and self.measured and r < 0.04:
                return f"{bit} {self.lookback()}"
            return f"{bit} {b}" if name in FEED_FORWARD_FIRST else f"{a} {bit}"
        return f"{a} {b}"

    # ---- lines ---------------------------------------------------------------

    def instruction(self, name, depth):
        """The lines for one use of `name`."""
        rng = self.rng
        if name in SINGLE_QUBIT_GATES:
            targets = [rng.randrange(self.n) for _ in range(rng.randint(1, 4))]
            return [f"{self.spell(name)} {' '.join(map(str, targets))}"]
        if name in TWO_QUBIT_GATES:
            return [f"{self.spell(name)} {' '.join(self.gate_pair(name) for _ in range(rng.randint(1, 3)))}"]
        if name in MEASUREMENTS:
            targets = [self.inverted(q) for q in self.qubits(rng.randint(1, 4))]
            self.measured += len(targets)
            return [f"{self.spell(name)}{self.optional_flip()} {' '.join(targets)}"]
        if name in RESETS:
            return [f"{self.spell(name)} {' '.join(map(str, self.qubits(rng.randint(1, 3))))}"]
        if name in PAIR_MEASUREMENTS:
            pairs = rng.randint(1, 2)
            targets = [self.inverted(q) for q in self.qubits(2 * pairs)]
            self.measured += pairs
            return [f"{self.spell(name)}{self.optional_flip()} {' '.join(targets)}"]
        if name in PAULI_ERRORS or name == "DEPOLARIZE1":
            targets = self.qubits(rng.randint(1, 4))
            return [f"{self.spell(name)}({self.probability()}) {' '.join(map(str, targets))}"]
        return self.other_instruction(name, depth)

    def other_instruction(self, name, depth):
        rng = self.rng
        if name == "MPP":
            products = [self.product() for _ in range(rng.randint(1, 3))]
            self.measured += len(products)
            return [f"{self.spell(name)}{self.optional_flip()} {' '.join(products)}"]
        if name in ("SPP", "SPP_DAG"):
            return [f"{self.spell(name)} {' '.join(self.product() for _ in range(rng.randint(1, 2)))}"]
        if name == "MPAD":
            bits = [str(rng.randint(0, 1)) for _ in range(rng.randint(1, 3))]
            self.measured += len(bits)
            return [f"{self.spell(name)}{self.optional_flip()} {' '.join(bits)}"]
        if name == "DEPOLARIZE2":
            targets = self.qubits(2 * rng.randint(1, 2))
            return [f"{self.spell(name)}({self.probability()}) {' '.join(map(str, targets))}"]
        if name == "PAULI_CHANNEL_1":
            targets = self.qubits(rng.randint(1, 3))
            return [f"{self.spell(name)}({self.shares(3, 0.3)}) {' '.join(map(str, targets))}"]
        if name == "PAULI_CHANNEL_2":
            targets = self.qubits(2 * rng.randint(1, 2))
            return [f"{self.spell(name)}({self.shares(15, 0.05)}) {' '.join(map(str, targets))}"]
        if name in ("E", "CORRELATED_ERROR", "ELSE_CORRELATED_ERROR"):
            return self.correlated_chain(name)
        if name in ("HERALDED_ERASE", "HERALDED_PAULI_CHANNEL_1"):
            targets = [self.inverted(q) if rng.random() < 0.2 else str(q) for q in self.qubits(rng.randint(1, 3))]
            self.measured += len(targets)
            arguments = self.probability() if name == "HERALDED_ERASE" else self.shares(4, 0.2)
            return [f"{self.spell(name)}({arguments}) {' '.join(targets)}"]
        if name in ("I_ERROR", "II_ERROR"):
            count = rng.randint(0, 2)
            arguments = f"({self.shares(count, 0.3)})" if count else ""
            targets = self.qubits((2 if name == "II_ERROR" else 1) * rng.randint(1, 2))
            return [f"{self.spell(name)}{arguments} {' '.join(map(str, targets))}"]
        if name == "DETECTOR":
            coordinates = ", ".join(str(rng.randint(-3, 9)) for _ in range(rng.randint(0, 3)))
            arguments = f"({coordinates})" if coordinates else ""
            lookbacks = [self.lookback() for _ in range(rng.randint(1, 3))] if self.measured else []
            return [f"{self.spell(name)}{arguments} {' '.join(lookbacks)}".rstrip()]
        if name == "OBSERVABLE_INCLUDE":
            targets = [self.lookback() for _ in range(rng.randint(0, 3))] if self.measured else []
            targets += [self.letter() + str(q) for q in self.qubits(rng.randint(0 if targets else 1, 2))]
            rng.shuffle(targets)
            return [f"{self.spell(name)}({rng.randrange(4)}) {' '.join(targets)}"]
        if name == "TICK":
            return [self.spell(name)]
        if name == "QUBIT_COORDS":
            return [f"{self.spell(name)}({rng.randint(0, 9)}, {rng.uniform(0, 5):.1f}) {rng.randrange(self.n)}"]
        if name == "SHIFT_COORDS":
            return [f"{self.spell(name)}({', '.join(str(rng.randint(0, 2)) for _ in range(rng.randint(1, 3)))})"]
        if name == "REPEAT":
            body = self.block(rng.randint(2, 6), depth + 1)
            return [f"{self.spell(name)} {rng.randint(1, 3)} {{", *body, "}"]
        raise AssertionError(f"no writer for {name}")

    def correlated_chain(self, name):
        """An E (or CORRELATED_ERROR) line and the ELSE_CORRELATED_ERROR lines of its chain."""
        def paulis():
            return " ".join(self.letter() + str(q) for q in self.qubits(self.rng.randint(1, 3)))

        first = name if name != "ELSE_CORRELATED_ERROR" else self.rng.choice(("E", "CORRELATED_ERROR"))
        lines = [f"{self.spell(first)}({self.probability()}) {paulis()}"]
        for _ in range(self.rng.randint(1 if name == "ELSE_CORRELATED_ERROR" else 0, 3)):
            lines.append(f"{self.spell('ELSE_CORRELATED_ERROR')}({self.probability()}) {paulis()}")
        return lines

    def pick_name(self):
        """Any name, with measurements and detectors more often, so that records
        grow and feed-forward and detectors have something to read."""
        r = self.rng.random()
        if r < 0.2:
            return self.rng.choice(RECORDING)
        if r < 0.3:
            return self.rng.choice(("DETECTOR", "OBSERVABLE_INCLUDE"))
        return self.rng.choice(ALL_NAMES)

    def block(self, count, depth):
        """`count` instructions (a REPEAT counts as one), with comments and blank lines at times."""
        lines = []
        for _ in range(count):
            name = self.pick_name()
            while name == "REPEAT" and depth >= MAX_DEPTH:
                name = self.pick_name()
            written = self.instruction(name, depth)
            if self.rng.random() < 0.05:
                written[0] += "  # a comment"
            if self.rng.random() < 0.03:
                lines.append("")
            lines += written
        return lines


def random_circuit(index):
    """(text, qubits, names) of random circuit `index`: 5 to 20 qubits, the names it uses."""
    rng = random.Random(index)
    writer = CircuitWriter(rng, rng.randint(5, 20))
    lines = writer.block(rng.randint(40, 70), 0)
    return "\n".join(lines) + "\n", writer.n, writer.names
