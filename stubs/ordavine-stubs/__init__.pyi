"""Stabilizer circuit simulation in the graph-state representation.

A register of n qubits is held as an undirected graph on n vertices plus, for
every qubit, a local Clifford operator (its VOP, a number 0..23).  Gates and
Pauli measurements update the graph and the VOPs; memory grows with the
number of qubits and edges, not exponentially.

Qubits are numbered 0..n-1.  Every qubit index must be a non-negative ``int``
(or an object with ``__index__``) below the register size.

Failures raised by every method:

* ``TypeError``: a missing, surplus, duplicate or unknown argument, or an
  argument that is not an integer (``"argument 'node': ..."``);
* ``OverflowError``: a negative index, or one that does not fit 64 bits;
* ``RuntimeError("Already borrowed")`` / ``RuntimeError("Already mutably
  borrowed")``: the register is used re-entrantly, from code run while one of
  its own calls is converting its arguments;
* ``PanicException`` with ``"index out of bounds: the len is {n} but the
  index is {i}"``: an index at or above the register size.  ``PanicException``
  (``pyo3_runtime.PanicException``) derives from ``BaseException``, not from
  ``Exception``, and is not an attribute of this module: catch it with
  ``except BaseException`` and test ``type(error).__name__``.  The register
  stays usable after it.
"""

from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any, ClassVar, Literal, SupportsFloat, SupportsIndex, Union, final

from typing_extensions import Buffer, TypeAlias

_Pauli: TypeAlias = Literal["X", "Y", "Z"]
_Product: TypeAlias = Union[
    str, Mapping[int, _Pauli], tuple[Literal[1, -1], Mapping[int, _Pauli]]
]
_Outcome: TypeAlias = Union[int, MeasurementResult]

__all__ = ["MeasurementResult", "Outcome", "Ordavine"]

def seed(value: int | None, /) -> None:
    """Seed the calling thread's generator; ``None`` returns it to OS entropy.

    From then on every random outcome and peek basis drawn on this thread
    comes from a ChaCha12 stream that is a function of ``value`` alone (the
    same on every machine and interpreter); other threads are not touched.
    ``value`` is a non-negative ``int`` of any size or an object with
    ``__index__``; a ``bool`` raises ``TypeError``, a negative value
    ``ValueError``.  A process forked from a seeded thread draws from OS
    entropy until it seeds itself.
    """

def sample(
    circuit: str, shots: int, *, seed: int | None = None, first_shot: int = 0, bit_packed: bool = False
) -> bytes:
    """Run ``circuit`` (circuit text, see ``Ordavine.run``) ``shots`` times.

    Each shot starts from as many qubits as the circuit names (largest
    index + 1), all in |0>.  Returns ``shots * m`` bytes, row-major, one
    0/1 byte per measurement (``m`` per shot):
    ``numpy.frombuffer(b, numpy.uint8).reshape(shots, m)``.  With
    ``bit_packed=True`` each row is ``(m + 7) // 8`` bytes, 8 measurements a
    byte, the first in the lowest bit, the last byte padded with zeros
    (Stim's layout: ``numpy.unpackbits(..., bitorder="little")``).

    The shots are Pauli frames on one noiseless reference run of the
    circuit on a register.  Shots come in blocks of 256 by absolute shot
    number (``first_shot`` counted in); block ``b`` draws from ChaCha12
    streams ``2b + 1`` and ``2b + 2`` of the key derived from ``seed``, so
    batches of a run split by ``first_shot`` concatenate to the bytes of
    one call, on every machine.  With ``seed=None`` the key is drawn from
    the calling thread's generator.  Raises ``ValueError`` for a refused
    text (with line and column), ``MemoryError`` for rows that cannot be
    held, and ``KeyboardInterrupt`` on Ctrl-C between batches of shots.
    """

def sample_detectors(
    circuit: str, shots: int, *, seed: int | None = None, first_shot: int = 0, bit_packed: bool = False
) -> tuple[bytes, bytes]:
    """As ``sample``, but returns ``(detectors, observables)``.

    ``detectors`` holds ``shots * D`` bytes (one per ``DETECTOR`` per shot),
    ``observables`` ``shots * O`` bytes (``O`` one more than the largest
    ``OBSERVABLE_INCLUDE`` index), both row-major: the layout of Stim's
    ``sample(shots, separate_observables=True)``; ``bit_packed=True`` packs
    each row as ``sample`` does.  Each bit is a detection event: whether the
    detector's parity (the observable's value) differs from what it is in
    the noiseless reference run, in which noise is left out and every
    random outcome is +1.  The same seed and shot numbers give the same
    shots as ``sample``.
    """

@final
class MeasurementResult:
    """The eigenvalue found by a measurement: ``PlusOne`` (+1) or ``MinusOne`` (-1).

    ``int()`` of a result is 0 for +1 and 1 for -1; ``repr()`` is
    ``"MeasurementResult.PlusOne"`` or ``"MeasurementResult.MinusOne"``.

    Every measurement returns a new object: compare results by ``int()``,
    never with ``==`` or ``is`` against ``PlusOne``/``MinusOne`` (those
    compare by identity and are always false for a fresh result).  Every
    instance is true in a boolean context.  Not constructible from Python.
    """

    PlusOne: ClassVar[MeasurementResult]
    """The +1 eigenvalue; ``int(MeasurementResult.PlusOne) == 0``."""
    MinusOne: ClassVar[MeasurementResult]
    """The -1 eigenvalue; ``int(MeasurementResult.MinusOne) == 1``."""

    def __int__(self) -> int:
        """0 for +1 (``PlusOne``), 1 for -1 (``MinusOne``)."""

@final
class Outcome:
    """One qubit's entry in the result of ``Ordavine.peek_measure_set``.

    Read-only; not constructible from Python.
    """

    @property
    def result(self) -> MeasurementResult:
        """The eigenvalue found, as a new ``MeasurementResult``."""
    @property
    def basis(self) -> Literal["X", "Y", "Z"]:
        """The Pauli basis the qubit was measured in."""
    @property
    def deterministic(self) -> bool:
        """True when the state fixed the outcome; False when it was drawn at random."""

@final
class Ordavine:
    """A register of ``nodes`` qubits, every one in |0>.

    Raises ``TypeError``/``OverflowError`` for a bad ``nodes``,
    ``PanicException("capacity overflow")`` for a count that no allocation
    can hold, and ``MemoryError`` when the memory cannot be had.
    """

    def __new__(cls, nodes: int) -> Ordavine: ...

    # Single-qubit Clifford gates: each rewrites one VOP, O(1).

    def x(self, node: int) -> None:
        """Apply the Pauli X gate to qubit ``node``."""
    def y(self, node: int) -> None:
        """Apply the Pauli Y gate to qubit ``node``."""
    def z(self, node: int) -> None:
        """Apply the Pauli Z gate to qubit ``node``."""
    def h(self, node: int) -> None:
        """Apply the Hadamard gate to qubit ``node``."""
    def s(self, node: int) -> None:
        """Apply the phase gate S = diag(1, i) to qubit ``node``."""
    def sdag(self, node: int) -> None:
        """Apply S-dagger = diag(1, -i) to qubit ``node``."""

    # Two-qubit gates.  The first letter names the basis the control is read
    # in (none: Z; x: X; y: Y), the last the Pauli applied to the target when
    # the control is in the -1 eigenstate of that basis.  ``control`` and
    # ``target`` must differ (else PanicException "control and target must be
    # different qubits, both are {q}").

    def cz(self, control: int, target: int) -> None:
        """Controlled-Z: apply Z to ``target`` when ``control`` is |1>."""
    def cx(self, control: int, target: int) -> None:
        """Controlled-X (CNOT): apply X to ``target`` when ``control`` is |1>."""
    def xcx(self, control: int, target: int) -> None:
        """Apply X to ``target`` when ``control`` is |->, the -1 eigenstate of X."""
    def ycx(self, control: int, target: int) -> None:
        """Apply X to ``target`` when ``control`` is |-i>, the -1 eigenstate of Y."""
    def xcz(self, control: int, target: int) -> None:
        """Apply Z to ``target`` when ``control`` is |->; the same as ``cx(target, control)``."""
    def ycz(self, control: int, target: int) -> None:
        """Apply Z to ``target`` when ``control`` is |-i>; the same as ``cy(target, control)``."""
    def cy(self, control: int, target: int) -> None:
        """Controlled-Y: apply Y to ``target`` when ``control`` is |1>."""
    def xcy(self, control: int, target: int) -> None:
        """Apply Y to ``target`` when ``control`` is |->; the same as ``ycx(target, control)``."""
    def ycy(self, control: int, target: int) -> None:
        """Apply Y to ``target`` when ``control`` is |-i>, the -1 eigenstate of Y."""

    # Measurements collapse the state and cut the qubit out of the graph.

    def measure_x(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the X basis; the qubit is left in |+> or |->."""
    def measure_y(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the Y basis; the qubit is left in |+i> or |-i>."""
    def measure_z(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the Z basis; the qubit is left in |0> or |1>."""

    # Queries: read-only, the register is not changed.

    def get_entangled_group(self, qubit: int) -> set[int]:
        """A new set of the qubits in ``qubit``'s connected component, itself included.

        Qubits outside the set are in a product state with it.
        """
    def peek_measure_set(self, qubits: set[int] | frozenset[int]) -> dict[int, Outcome]:
        """Measure ``qubits`` on a copy of the register; the register is untouched.

        The qubits are measured one after the other in ascending order, on
        the same copy, so the outcomes are jointly consistent.  Each is
        measured in the basis whose outcome the state fixes, if there is
        one (``Outcome.deterministic`` is then True), else in a basis drawn
        at random.  ``qubits`` must be a ``set`` or ``frozenset`` (else
        ``TypeError "argument 'qubits': '{type}' object cannot be cast as
        'set'"``).  Returns a new dict from each qubit to its ``Outcome``;
        an empty set gives an empty dict.
        """
    def get_vop(self, qubit: int) -> int:
        """The VOP of ``qubit``: its local Clifford operator, numbered 0..23.

        0 is the identity, 1 X, 2 Y, 3 Z, 5 S-dagger, 6 S, 10 H; a new
        register has 10 on every qubit (H applied to |+> gives |0>).
        """
    def get_neighbors(self, qubit: int) -> list[int]:
        """A new list of ``qubit``'s neighbours in the graph, in the register's own order.

        Neighbours are listed in the order their edges were made; removing
        an edge keeps the order of the others.
        """

    # Bulk export: each call reads the register once, in time linear in its
    # qubits and edges.  Read-only.

    def vops(self) -> bytes:
        """Every qubit's VOP (0..23, as ``get_vop``), qubit 0 first: ``bytes`` of length n."""
    def edges(self) -> memoryview:
        """Every edge once, as a flat read-only ``memoryview`` ``[a0, b0, a1, b1, ...]``.

        Each pair has a < b; pairs are sorted by a, and for one a they follow
        a's neighbour list (``get_neighbors``).  The entries are unsigned
        32-bit (``format == "I"``) when the register has at most 2**32 qubits,
        else 64-bit (``"Q"``).  ``numpy.frombuffer(e, dtype=e.format).reshape(-1, 2)``
        reads it without a copy.
        """
    def stabilizers(self) -> list[str]:
        """The n stabilizer generators of the state, generator i for qubit i.

        Each is a sign and one letter per qubit, qubit 0 first, in Stim's
        text form (``"+X_Z"``, ``"-YZ_"``; ``_`` is the identity), so
        ``stim.Tableau.from_stabilizers(map(stim.PauliString, sim.stabilizers()))``
        is a tableau of the same state.  Only for registers of at most 8192
        qubits (``ValueError`` beyond); use ``stabilizer`` for larger ones.
        """
    def stabilizer(self, qubit: int) -> tuple[Literal[1, -1], dict[int, Literal["X", "Y", "Z"]]]:
        """The stabilizer generator of ``qubit``: ``(sign, {qubit: Pauli})``.

        The dict holds the non-identity factors: ``qubit`` itself first,
        then each of its neighbours in list order.  Any register size.
        """
    def entanglement_entropy(self, qubits: set[int] | frozenset[int]) -> int:
        """The entanglement entropy, in bits, of ``qubits`` against the rest of the register.

        The GF(2) rank of the graph's adjacency between the set and the
        rest; only the entangled groups the set touches are read.  ``qubits``
        must be a ``set`` or ``frozenset``; an empty set gives 0.
        """

    # Copies and saved states.

    def copy(self) -> Ordavine:
        """An independent register with the same graph (list order included) and VOPs."""
    def __copy__(self) -> Ordavine:
        """The same as ``copy()``."""
    def __deepcopy__(self, memo: dict[int, Any]) -> Ordavine:
        """The same as ``copy()``: a register holds no Python objects."""
    def to_bytes(self) -> bytes:
        """The register's saved form: magic ``b"ORDV"``, version 1, the size,
        one byte per VOP and the neighbour lists in order."""
    @classmethod
    def from_bytes(cls, data: bytes | bytearray | memoryview) -> Ordavine:
        """A register rebuilt from ``to_bytes()`` output (any bytes-like object).

        Damaged or foreign data raises ``ValueError("invalid saved state:
        ...")`` naming what is wrong; nothing is built from it.
        """
    def __reduce__(self) -> tuple[Callable[[bytes], Ordavine], tuple[bytes]]:
        """Pickling support through ``from_bytes`` and ``to_bytes``."""

    # Whole circuits.

    def run(self, circuit: str) -> bytes:
        """Run circuit text on the register; one 0/1 byte per measurement, in order.

        The text is the stabilizer circuit format read by Stim, every
        instruction of it (Clifford gates, Pauli and Pauli-product
        measurements, product rotations, resets, feed-forward from
        ``rec[-k]``, Pauli and heralded noise, ``REPEAT``, detectors and
        observables, tags and coordinates).  Everything is checked before anything
        runs: a refused text, or a qubit index at or above the register
        size, raises ``ValueError("line L, column C: ...")`` and leaves the
        register untouched.  Random outcomes and noise draw from the calling
        thread's generator.  Returns the same graph, VOPs and record as the
        same gates called one by one.
        """

    # The register as an instrument.

    @property
    def num_qubits(self) -> int:
        """The number of qubits in the register (read-only)."""
    def expectation(self, pauli: _Product) -> Literal[1, -1, 0]:
        """The expectation value of a Pauli product: +1, -1, or 0 when its outcome is random.

        ``pauli`` is text in the circuit format's product syntax
        (``"X0*Z5*Y7"``; a leading ``-`` negates, ``!`` before a factor
        negates too, letters in either case; ``""`` is the identity), text
        in Stim's dense form (``"+XZ_Y"``, when it holds no digit, ``*`` or
        ``!``: what ``stabilizers()`` returns), a dict ``{qubit: "X" | "Y" |
        "Z"}``, or the ``(sign, dict)`` pair that ``stabilizer`` returns.  Factors on one qubit multiply
        (``X0*X0`` is the identity); a product with phase +-i (``X0*Z0``)
        raises ``ValueError``.  Read-only, draws nothing; costs time in the
        degrees of the named qubits.  Text naming a qubit at or above the
        size raises ``ValueError``; a dict key does the argument rules'
        index failure.
        """
    def measure_pauli(self, pauli: _Product) -> MeasurementResult:
        """Measure a Pauli product (as ``MPP`` does) and collapse the state.

        A random outcome draws one word from the thread's generator, a fixed
        one draws nothing and changes nothing.  ``pauli`` as for ``expectation``.
        """
    def postselect_x(self, qubit: int, result: _Outcome) -> float:
        """Force the X outcome of ``qubit`` to ``result`` (0 or ``PlusOne`` for +1, 1 or ``MinusOne`` for -1).

        Returns the probability the outcome had: 1.0 when the state fixed
        it, 0.5 when it was random (the state then collapses, nothing drawn).
        When the state gives the other outcome with certainty, raises
        ``ValueError`` and leaves the register as it was.
        """
    def postselect_y(self, qubit: int, result: _Outcome) -> float:
        """As ``postselect_x``, in the Y basis."""
    def postselect_z(self, qubit: int, result: _Outcome) -> float:
        """As ``postselect_x``, in the Z basis."""
    def postselect_pauli(self, pauli: _Product, result: _Outcome) -> float:
        """As ``postselect_x``, for a Pauli product given as for ``expectation``."""
    def fidelity(self, other: Ordavine, qubits: Sequence[int] | None = None) -> float:
        """The fidelity with the state of ``other``: 0.0 or a power of 1/2.

        Without ``qubits``: |<psi|phi>|^2 of two registers of the same size
        (``ValueError`` when the sizes differ).  With ``qubits``, a sequence
        of distinct qubits of this register, as many as ``other`` has:
        <phi|rho|phi>, rho this register's reduced state on those qubits,
        ``qubits[i]`` standing for qubit i of ``other``.  Costs time in the
        degrees of the named qubits, not in the register size.
        """
    @classmethod
    def from_graph(
        cls,
        nodes: int,
        edges: Buffer | Iterable[Sequence[SupportsIndex]],
        vops: Buffer | None = None,
    ) -> Ordavine:
        """The graph state of ``edges`` on ``nodes`` qubits, with VOPs from ``vops``.

        ``edges``: pairs ``(a, b)`` (any iterable of pairs), or an integer
        buffer: an (m, 2) or flat (2m,) numpy array, or the memoryview that
        ``edges()`` returns.  Each list follows the order the edges are
        given.  ``vops``: one byte per qubit (0..23); by default every VOP
        is 0, the plain graph state.  A self loop, an edge given twice, a
        qubit outside 0..nodes-1, a VOP of 24 or more, or a length that does
        not match raises ``ValueError`` naming it; nothing is built.
        """
    @classmethod
    def from_stabilizers(cls, stabilizers: Sequence[str]) -> Ordavine:
        """A register in the state stabilized by n generators in Stim's text form.

        Each generator is ``"+XZ_"``-style text (as ``stabilizers()``
        returns): an optional sign, then one of ``_ I X Y Z`` per qubit,
        with as many letters as there are generators.  Malformed, dependent
        or anticommuting generators raise ``ValueError``.
        """
    def local_complement(self, qubit: int) -> None:
        """Complement the graph on ``qubit``'s neighbourhood, correcting the VOPs so the state is unchanged."""
    def add_qubits(self, count: int) -> int:
        """Append ``count`` qubits in |0>; returns the index of the first new one.

        Existing qubits, their lists and VOPs are untouched.  The size limits
        and errors of the constructor apply to the total.
        """
    def x_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply X to ``qubit`` with probability ``p`` (the draws of ``X_ERROR(p)``)."""
    def y_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply Y to ``qubit`` with probability ``p`` (the draws of ``Y_ERROR(p)``)."""
    def z_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply Z to ``qubit`` with probability ``p`` (the draws of ``Z_ERROR(p)``)."""
    def depolarize1(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """With probability ``p``, X, Y or Z on ``qubit``, uniformly (the draws of ``DEPOLARIZE1(p)``)."""
    def depolarize2(self, a: int, b: int, p: SupportsFloat | SupportsIndex) -> None:
        """With probability ``p``, one of the 15 non-identity Pauli pairs on ``a``, ``b`` (``DEPOLARIZE2(p)``)."""
