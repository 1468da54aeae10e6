"""Property-based lock-step test: Ordavine against a dense state vector.

A hypothesis state machine applies random gates, measurements, peeks, group
queries and invalid calls to an ``Ordavine`` register and to a numpy state
vector built from the gate matrices themselves.  Every random outcome that
the register reports must have non-zero probability in the dense model (so a
certain outcome must be matched exactly); the model is then projected onto it.
On a failure hypothesis shrinks the run to a minimal sequence of calls.
"""

import math

import pytest

hypothesis = pytest.importorskip("hypothesis")
np = pytest.importorskip("numpy")

from hypothesis import HealthCheck, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from hypothesis.stateful import (  # noqa: E402
    RuleBasedStateMachine,
    initialize,
    invariant,
    precondition,
    rule,
)

from helpers import SINGLE_QUBIT_GATES, TWO_QUBIT_GATES, catch_panic  # noqa: E402
from ordavine import Ordavine  # noqa: E402

MAX_QUBITS = 6
TOLERANCE = 1e-9

I2 = np.eye(2, dtype=complex)
PAULI = {
    "X": np.array([[0, 1], [1, 0]], dtype=complex),
    "Y": np.array([[0, -1j], [1j, 0]], dtype=complex),
    "Z": np.array([[1, 0], [0, -1]], dtype=complex),
}
SINGLE = {
    "x": PAULI["X"],
    "y": PAULI["Y"],
    "z": PAULI["Z"],
    "h": (PAULI["X"] + PAULI["Z"]) / math.sqrt(2),
    "s": np.diag([1, 1j]),
    "sdag": np.diag([1, -1j]),
}


def controlled(control_pauli, target_pauli):
    """Applies target_pauli to the target when the control is in the -1
    eigenspace of control_pauli; index order (control, target)."""
    plus = (I2 + control_pauli) / 2
    minus = (I2 - control_pauli) / 2
    return np.kron(plus, I2) + np.kron(minus, target_pauli)


# <p>c<q>: Pauli q on the target when the control is -1 for Pauli p (p = Z for "c").
TWO = {
    name: controlled(PAULI["Z" if name[0] == "c" else name[0].upper()], PAULI[name[-1].upper()])
    for name in TWO_QUBIT_GATES
}


class DenseModel:
    """n qubits as a tensor of shape (2,) * n; axis q is qubit q."""

    def __init__(self, n):
        self.n = n
        self.psi = np.zeros((2,) * n, dtype=complex)
        self.psi[(0,) * n] = 1.0

    def copy(self):
        other = DenseModel.__new__(DenseModel)
        other.n, other.psi = self.n, self.psi.copy()
        return other

    def apply1(self, q, matrix):
        moved = np.moveaxis(self.psi, q, 0)
        self.psi = np.moveaxis(np.tensordot(matrix, moved, axes=([1], [0])), 0, q)

    def apply2(self, a, b, matrix):
        moved = np.moveaxis(self.psi, (a, b), (0, 1))
        out = np.tensordot(matrix.reshape(2, 2, 2, 2), moved, axes=([2, 3], [0, 1]))
        self.psi = np.moveaxis(out, (0, 1), (a, b))

    def project(self, q, axis, bit):
        """Projects qubit q onto outcome `bit` (0: +1, 1: -1) of the Pauli
        `axis`; returns the outcome's probability (the state is left
        normalised when it is positive)."""
        sign = 1 if bit == 0 else -1
        before = self.psi
        self.apply1(q, (I2 + sign * PAULI[axis]) / 2)
        probability = float(np.vdot(self.psi, self.psi).real)
        if probability > TOLERANCE:
            self.psi = self.psi / math.sqrt(probability)
        else:
            self.psi = before
        return probability

    def is_product(self, group):
        """Whether the qubits of `group` are in a pure state of their own
        (unentangled with every other qubit)."""
        rest = [q for q in range(self.n) if q not in group]
        matrix = np.transpose(self.psi, list(group) + rest).reshape(2 ** len(group), -1)
        singular = np.linalg.svd(matrix, compute_uv=False)
        return len(singular) < 2 or singular[1] < 1e-6


def snapshot(sim, n):
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


def check_graph(state, n):
    """Symmetric adjacency, no self-loops or repeated entries, VOPs below 24."""
    for q, (vop, neighbors) in enumerate(state):
        assert 0 <= vop < 24
        assert q not in neighbors
        assert len(set(neighbors)) == len(neighbors)
        for other in neighbors:
            assert 0 <= other < n
            assert q in state[other][1]


qubit_counts = st.integers(min_value=1, max_value=MAX_QUBITS)


class LockStep(RuleBasedStateMachine):
    @initialize(n=qubit_counts)
    def start(self, n):
        self.n = n
        self.sim = Ordavine(n)
        self.model = DenseModel(n)
        self.inspectable = hasattr(self.sim, "get_vop") and hasattr(self.sim, "get_neighbors")

    def qubit(self, data):
        return data.draw(st.integers(min_value=0, max_value=self.n - 1), label="qubit")

    @rule(gate=st.sampled_from(SINGLE_QUBIT_GATES), data=st.data())
    def single_qubit_gate(self, gate, data):
        q = self.qubit(data)
        assert getattr(self.sim, gate)(q) is None
        self.model.apply1(q, SINGLE[gate])

    @precondition(lambda self: self.n >= 2)
    @rule(gate=st.sampled_from(TWO_QUBIT_GATES), data=st.data())
    def two_qubit_gate(self, gate, data):
        control = self.qubit(data)
        target = data.draw(
            st.integers(0, self.n - 1).filter(lambda t: t != control), label="target"
        )
        assert getattr(self.sim, gate)(control, target) is None
        self.model.apply2(control, target, TWO[gate])

    @rule(axis=st.sampled_from("XYZ"), data=st.data())
    def measure(self, axis, data):
        q = self.qubit(data)
        bit = int(getattr(self.sim, "measure_" + axis.lower())(q))
        assert bit in (0, 1)
        probability = self.model.project(q, axis, bit)
        assert probability > TOLERANCE, f"measure_{axis.lower()}({q}) gave an impossible outcome"

    @rule(data=st.data())
    def peek(self, data):
        qubits = data.draw(st.sets(st.integers(0, self.n - 1), max_size=self.n), label="qubits")
        before = snapshot(self.sim, self.n) if self.inspectable else None
        outcomes = self.sim.peek_measure_set(qubits)
        assert set(outcomes) == qubits
        # Joint consistency: the outcomes are taken in ascending order on one copy.
        trial = self.model.copy()
        for q in sorted(outcomes):
            outcome = outcomes[q]
            probability = trial.project(q, outcome.basis, int(outcome.result))
            assert probability > TOLERANCE, f"peek gave an impossible outcome for qubit {q}"
            if outcome.deterministic:
                assert probability > 1 - 1e-7
        if before is not None:
            assert snapshot(self.sim, self.n) == before

    @rule(data=st.data())
    def entangled_group(self, data):
        q = self.qubit(data)
        group = self.sim.get_entangled_group(q)
        assert q in group and group <= set(range(self.n))
        assert self.model.is_product(sorted(group))
        if len(group) > 1:
            # Every member of a larger group is entangled with the others.
            for member in group:
                assert not self.model.is_product([member])

    @rule(data=st.data())
    def invalid_call(self, data):
        """Out-of-range or repeated operands fail without changing anything."""
        bad = data.draw(st.sampled_from([self.n, self.n + 1, 2**63]), label="bad index")
        kind = data.draw(st.sampled_from(["single", "two", "same", "measure", "group"]), label="kind")
        before = snapshot(self.sim, self.n) if self.inspectable else None
        if kind == "single":
            catch_panic(getattr(self.sim, data.draw(st.sampled_from(SINGLE_QUBIT_GATES))), bad)
        elif kind == "two":
            gate = getattr(self.sim, data.draw(st.sampled_from(TWO_QUBIT_GATES)))
            args = data.draw(st.sampled_from([(bad, 0), (0, bad)]))
            catch_panic(gate, *args)
        elif kind == "same":
            q = self.qubit(data)
            catch_panic(getattr(self.sim, data.draw(st.sampled_from(TWO_QUBIT_GATES))), q, q)
        elif kind == "measure":
            catch_panic(getattr(self.sim, data.draw(st.sampled_from(["measure_x", "measure_y", "measure_z"]))), bad)
        else:
            catch_panic(self.sim.get_entangled_group, bad)
        if before is not None:
            assert snapshot(self.sim, self.n) == before

    @invariant()
    def graph_is_well_formed(self):
        if getattr(self, "inspectable", False):
            check_graph(snapshot(self.sim, self.n), self.n)


LockStep.TestCase.settings = settings(
    max_examples=150,
    stateful_step_count=40,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)
test_lock_step = LockStep.TestCase
