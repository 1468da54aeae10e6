"""Stabilizer circuit simulation in the graph-state representation.

A register of n qubits is held as an undirected graph on n vertices plus, for
every qubit, a local Clifford operator (its VOP, a number 0..23).  The state
it represents is every qubit in |+⟩, a controlled-Z for every edge, then on
every qubit its VOP.  Gates and Pauli measurements update the graph and the
VOPs; memory grows with the number of qubits and edges, not exponentially.

The module holds three classes, ``Ordavine`` (the register),
``MeasurementResult`` and ``Outcome``, which are listed in ``__all__``;
three functions, ``seed``, ``sample`` and ``sample_detectors``, and the
circuit classes ``Circuit``, ``CompiledMeasurementSampler`` and
``CompiledDetectorSampler``, which are not.  ``PanicException`` is not an attribute of the module.

Qubits are numbered 0..n-1.  Every qubit index is an ``int`` (a ``bool``
counts: ``True`` is qubit 1) or an object with ``__index__``, below the
register size.  Every parameter of a method may be given by position or by
keyword.  Failures that any method with a qubit argument raises:

* ``TypeError``: a missing, surplus, duplicate or unknown argument, or an
  argument that is not an integer (``"argument 'node': ..."``);
* ``OverflowError``: a negative index, or one that does not fit 64 bits;
* ``RuntimeError("Already borrowed")`` / ``RuntimeError("Already mutably
  borrowed")``: the register is used re-entrantly, from code run while one of
  its own calls is converting its arguments;
* ``PanicException`` with ``"index out of bounds: the len is {n} but the
  index is {i}"``: an index at or above the register size.  ``PanicException``
  (``pyo3_runtime.PanicException``) derives from ``BaseException``, not from
  ``Exception``: catch it with ``except BaseException`` and test
  ``type(error).__name__``.  The register stays usable after it.

Every one of these failures leaves the register as it was.
"""

import os
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

    From then on every random outcome, noise draw and peek basis drawn on
    this thread comes from a ChaCha12 stream that is a function of ``value``
    alone, the same on every machine and on CPython and PyPy: the same seed
    and the same calls give the same outcomes, peek bases and graphs.
    Other threads are not touched.

    ``value`` is a non-negative ``int`` of any size, or an object with
    ``__index__``.  A ``bool`` raises ``TypeError``, a negative value
    ``ValueError``, anything else that is not an integer ``TypeError``; a
    refused value leaves the generator as it was.  A process forked from a
    seeded thread does not replay the parent's stream: it draws from OS
    entropy until it seeds itself.
    """

def sample(
    circuit: str, shots: int, *, seed: int | None = None, first_shot: int = 0, bit_packed: bool = False
) -> bytes:
    """Run ``circuit`` (circuit text, as ``Ordavine.run`` reads it) ``shots`` times.

    Each shot starts from as many qubits as the circuit names (largest
    index + 1), all in |0⟩.  Returns ``shots * m`` bytes, row-major, one
    0/1 byte per measurement (``m`` per shot), the raw measurement bits:
    ``numpy.frombuffer(b, numpy.uint8).reshape(shots, m)``.  With
    ``bit_packed=True`` each row is ``(m + 7) // 8`` bytes, 8 measurements a
    byte, the first in the lowest bit, the last byte padded with zeros
    (Stim's layout: ``numpy.unpackbits(rows, axis=1, bitorder="little")[:, :m]``
    unpacks it).  ``bit_packed`` is ``True`` or ``False``, nothing else (a
    ``numpy.True_`` is a ``TypeError``).

    The shots are Pauli frames on one noiseless reference run of the circuit
    on a register, made again by every call.  A shot's bits depend only on
    ``seed`` and its shot number: the shots numbered ``first_shot`` to
    ``first_shot + shots - 1`` are returned, so calls that split a run by
    ``first_shot`` concatenate to the bytes of one call, on every machine
    and interpreter.  With ``seed=None`` the key is drawn from the calling
    thread's generator (reproducible after ``ordavine.seed``).

    The reference run and the shots run without the interpreter lock and
    look for signals as they work, inside a batch too: about every 2**20
    units of work (a target of a line for a batch of shots, a noise firing,
    a repetition, a row set up or written out), and at most every 20 ms,
    the call takes the lock back for a moment to run pending signal
    handlers.  So Ctrl-C raises ``KeyboardInterrupt`` within moments, on
    CPython and PyPy; a handler of the caller's own that raises makes the
    call raise that exception.  Nothing is returned then.

    Raises ``ValueError`` for a refused text (naming line and column) and
    when ``first_shot + shots`` reaches ``2**64``, and ``MemoryError`` when
    a record would hold more than ``2**40`` entries or memory cannot be had
    for the rows, the reference run or the Pauli frames; its text says what
    and how many bytes (``"could not allocate 1000000000 bytes for the
    measurement rows of 1000000000 shots"``).  A refused call draws
    nothing: every argument, the text, the sizes and all the memory the
    shots need are checked and taken before the key is drawn, so the
    thread's generator stays as it was.
    """

def sample_detectors(
    circuit: str, shots: int, *, seed: int | None = None, first_shot: int = 0, bit_packed: bool = False
) -> tuple[bytes, bytes]:
    """As ``sample``, but returns the detection events: ``(detectors, observables)``.

    ``detectors`` holds ``shots * D`` bytes (one per ``DETECTOR`` per shot),
    ``observables`` ``shots * O`` bytes (``O`` one more than the largest
    ``OBSERVABLE_INCLUDE`` index), both row-major: the layout of Stim's
    ``compile_detector_sampler().sample(shots, separate_observables=True)``;
    ``bit_packed=True`` packs each row as ``sample`` does.

    Each bit is a detection event: whether the detector's parity (the
    observable's value) differs from what it is without noise.  A detector
    whose parity is random without noise (a gauge detector) comes out
    random.  No reference run is needed.  The same seed and shot numbers
    give the same shots as ``sample``.
    """

@final
class Circuit:
    """Circuit text read once, for sampling many times.

    ``Circuit(source)`` takes circuit text (as ``Ordavine.run`` reads it) or
    any object whose ``str()`` is circuit text, such as a ``stim.Circuit``.
    A refused text is a ``ValueError`` naming its line and column, as for
    ``sample``.  ``str()`` gives the text back; a circuit pickles by its
    text, so process pools and spawned workers can take it.
    Not listed in ``__all__``.
    """

    def __new__(cls, source: object) -> Circuit: ...
    @property
    def num_qubits(self) -> int:
        """One more than the largest qubit index any target names (MPAD's bits among them)."""
    @property
    def num_measurements(self) -> int:
        """Record entries per shot, repetitions included (MPAD and heralds among them)."""
    @property
    def num_detectors(self) -> int:
        """``DETECTOR`` lines run per shot, repetitions included."""
    @property
    def num_observables(self) -> int:
        """One more than the largest ``OBSERVABLE_INCLUDE`` index (0 without one)."""
    def compile_sampler(self, *, seed: int | None = None) -> CompiledMeasurementSampler:
        """A sampler of the measurement record; the noiseless reference run is made here, once.

        With ``seed=s`` the sampler's successive calls give the shots
        numbered 0, 1, 2, ... of key ``s``: the rows ``ordavine.sample(text,
        n, seed=s, first_shot=k)`` gives, split at the same points.  With
        ``seed=None`` a fresh key is drawn from the calling thread's
        generator, so spawned workers never repeat each other unless seeded.
        The reference run releases the interpreter lock and stops on Ctrl-C.
        """
    def compile_detector_sampler(self, *, seed: int | None = None) -> CompiledDetectorSampler:
        """A sampler of detection events and observable flips; keys and shots as ``compile_sampler``."""

@final
class CompiledMeasurementSampler:
    """Made by ``Circuit.compile_sampler``; not instantiable.  Not listed in ``__all__``."""

    def sample(self, shots: int, *, bit_packed: bool = False, num_threads: int | None = None) -> Any:
        """The next ``shots`` shots' measurement records.

        A numpy array: ``bool`` of shape ``(shots, num_measurements)``, or
        with ``bit_packed=True`` ``uint8`` of shape ``(shots,
        ceil(num_measurements / 8))``, the first measurement in the lowest
        bit.  Where numpy cannot be imported, a 2-D ``memoryview`` of that
        shape (format ``'?'``, or ``'B'`` packed), which numpy takes without
        a copy.

        ``num_threads``: how many threads run the shots; ``None`` for every
        core the process may run on (its CPU affinity).  Every count gives
        the same bits.  The interpreter lock is released, and Ctrl-C stops
        the call (its shots are then not taken: the next call gives them).
        """

    def sample_write(
        self,
        shots: int,
        *,
        filepath: str | bytes | os.PathLike[str] | os.PathLike[bytes],
        format: Literal["01", "b8", "r8", "ptb64", "hits", "dets"] = "01",
        num_threads: int | None = None,
    ) -> None:
        """The next ``shots`` shots' records written to a shot data file.

        The formats are those of Stim's result-format documentation
        (``stim.read_shot_data_file`` reads them back as ``sample`` gives
        them): ``01`` (a line of 0s and 1s per shot), ``b8`` (bit-packed
        rows), ``r8`` (run lengths of zeros), ``ptb64`` (64 shots at a time,
        a 64-bit word per bit; the shot count must be a multiple of 64),
        ``hits`` (the indices of the 1 bits per line), ``dets`` (``shot M3
        M7`` per line).  Shots are made and written in stretches of about
        16 MiB of rows, so memory does not grow with the shot count.

        Everything is checked before anything is written: an unknown format
        is a ``ValueError`` listing the formats, a shot count ptb64 cannot
        write a ``ValueError``, a path that cannot be opened an ``OSError``
        naming it.  A write that fails part way (a full disk, Ctrl-C)
        removes the partial file (a regular file; a device or pipe stays)
        and raises, ``OSError`` naming the path for a refused write.  Threads
        and shots as ``sample``.
        """

@final
class CompiledDetectorSampler:
    """Made by ``Circuit.compile_detector_sampler``; not instantiable.  Not listed in ``__all__``."""

    def sample(
        self,
        shots: int,
        *,
        separate_observables: bool = False,
        append_observables: bool = False,
        prepend_observables: bool = False,
        bit_packed: bool = False,
        num_threads: int | None = None,
    ) -> Any:
        """The next ``shots`` shots' detection events.

        The detector array alone, of shape ``(shots, num_detectors)``; with
        ``append_observables`` (``prepend_observables``) the observable
        flips as further columns after (before) the detectors; with
        ``separate_observables`` a ``(detectors, observables)`` tuple.  At
        most one of the three may be set (else ``ValueError``).  Types,
        packing, threads and keys as ``CompiledMeasurementSampler.sample``;
        the rows are those of ``ordavine.sample_detectors`` for the same
        seed and shot numbers.
        """

    def sample_write(
        self,
        shots: int,
        *,
        filepath: str | bytes | os.PathLike[str] | os.PathLike[bytes],
        format: Literal["01", "b8", "r8", "ptb64", "hits", "dets"] = "01",
        obs_out_filepath: str | bytes | os.PathLike[str] | os.PathLike[bytes] | None = None,
        obs_out_format: Literal["01", "b8", "r8", "ptb64", "hits", "dets"] = "01",
        prepend_observables: bool = False,
        append_observables: bool = False,
        num_threads: int | None = None,
    ) -> None:
        """The next ``shots`` shots' detection events written to a shot data file.

        As ``CompiledMeasurementSampler.sample_write``; in ``dets`` the
        tokens are ``D`` for detectors and ``L`` for observables.  The
        observable flips go to ``obs_out_filepath`` in ``obs_out_format``
        when it is given, and into the main file as further columns with
        ``append_observables`` or ``prepend_observables`` (at most one of
        the two).
        """

@final
class MeasurementResult:
    """The eigenvalue found by a measurement: ``PlusOne`` (+1) or ``MinusOne`` (-1).

    ``int()`` of a result is 0 for +1 and 1 for -1; ``repr()`` and ``str()``
    are ``"MeasurementResult.PlusOne"`` or ``"MeasurementResult.MinusOne"``.

    Every measurement returns a new object, and there is no comparison of
    values: ``==`` and ``is`` go by identity, so
    ``sim.measure_z(0) == MeasurementResult.PlusOne`` is always false.
    Compare results by ``int()``.  Every instance is true in a boolean
    context, and a result is not an index (``[a, b][result]`` raises
    ``TypeError``).  ``MeasurementResult()`` raises ``TypeError``: results
    are made only by measurements.
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

    Its attributes are read-only (assigning raises ``AttributeError``);
    ``Outcome()`` raises ``TypeError``; equality is by identity.
    """

    @property
    def result(self) -> MeasurementResult:
        """The eigenvalue found, as a new ``MeasurementResult`` at every access."""
    @property
    def basis(self) -> Literal["X", "Y", "Z"]:
        """The Pauli basis the qubit was measured in."""
    @property
    def deterministic(self) -> bool:
        """True when the state fixed the outcome; False when it was drawn at random."""

@final
class Ordavine:
    """``Ordavine(nodes)``: a register of ``nodes`` qubits, every one in |0⟩.

    A new register has no edges and VOP 10 (H) on every qubit; ``Ordavine(0)``
    is an empty register.  A node takes 32 bytes; a
    register holds fewer than ``2**32`` qubits.  Raises ``TypeError`` or
    ``OverflowError`` for a ``nodes`` that is not a non-negative integer,
    ``PanicException("capacity overflow")`` for ``2**32`` qubits or more,
    and ``MemoryError`` when the memory cannot be had.

    The class cannot be subclassed and its instances take no new
    attributes.  Registers can be copied (``copy``, ``copy.copy``,
    ``copy.deepcopy``), saved (``to_bytes``) and pickled.
    """

    def __new__(cls, nodes: int) -> Ordavine: ...

    # Single-qubit Clifford gates: each rewrites one VOP, O(1).

    def x(self, node: int) -> None:
        """Apply the Pauli X gate to qubit ``node``; only its VOP changes."""
    def y(self, node: int) -> None:
        """Apply the Pauli Y gate to qubit ``node``; only its VOP changes."""
    def z(self, node: int) -> None:
        """Apply the Pauli Z gate to qubit ``node``; only its VOP changes."""
    def h(self, node: int) -> None:
        """Apply the Hadamard gate H = (X + Z)/√2 to qubit ``node``; only its VOP changes."""
    def s(self, node: int) -> None:
        """Apply the phase gate S = diag(1, i) to qubit ``node``; only its VOP changes."""
    def sdag(self, node: int) -> None:
        """Apply S† = diag(1, -i) to qubit ``node``; only its VOP changes."""

    # Two-qubit gates.  The first letter names the basis the control is read
    # in (none: Z; x: X; y: Y), the last the Pauli applied to the target when
    # the control is in the -1 eigenstate of that basis.  ``control`` and
    # ``target`` must differ (else PanicException "control and target must be
    # different qubits, both are {q}").

    def cz(self, control: int, target: int) -> None:
        """Controlled-Z: apply Z to ``target`` when ``control`` is |1⟩; the same as ``cz(target, control)``.

        Like every two-qubit gate: each is its own inverse; its cost is set
        by the degrees of the two qubits and of the neighbours the update
        rearranges, not by the register size; ``control == target`` raises
        ``PanicException("control and target must be different qubits, both
        are {q}")``; every refused call leaves the register as it was.
        """
    def cx(self, control: int, target: int) -> None:
        """Controlled-X (CNOT): apply X to ``target`` when ``control`` is |1⟩; the same as ``xcz(target, control)``."""
    def xcx(self, control: int, target: int) -> None:
        """Apply X to ``target`` when ``control`` is |−⟩, the -1 eigenstate of X."""
    def ycx(self, control: int, target: int) -> None:
        """Apply X to ``target`` when ``control`` is |−i⟩, the -1 eigenstate of Y; the same as ``xcy(target, control)``."""
    def xcz(self, control: int, target: int) -> None:
        """Apply Z to ``target`` when ``control`` is |−⟩; the same as ``cx(target, control)``."""
    def ycz(self, control: int, target: int) -> None:
        """Apply Z to ``target`` when ``control`` is |−i⟩; the same as ``cy(target, control)``."""
    def cy(self, control: int, target: int) -> None:
        """Controlled-Y: apply Y to ``target`` when ``control`` is |1⟩; the same as ``ycz(target, control)``."""
    def xcy(self, control: int, target: int) -> None:
        """Apply Y to ``target`` when ``control`` is |−⟩; the same as ``ycx(target, control)``."""
    def ycy(self, control: int, target: int) -> None:
        """Apply Y to ``target`` when ``control`` is |−i⟩, the -1 eigenstate of Y."""

    # The other gates of the circuit format, one method each, named as the
    # format names them in lower case.  Single-qubit gates rewrite one VOP;
    # two-qubit gates run the same register steps as the circuit line of the
    # same name, take two different qubits (else PanicException "control and
    # target must be different qubits, both are {q}"; nothing changes) and
    # check ``a`` before ``b``.

    def c_nxyz(self, qubit: int) -> None:
        """Apply C_NXYZ to ``qubit``: it takes X to -Y and Z to -X; only its VOP changes."""
    def c_nzyx(self, qubit: int) -> None:
        """Apply C_NZYX to ``qubit``: it takes X to -Z and Z to -Y; only its VOP changes."""
    def c_xnyz(self, qubit: int) -> None:
        """Apply C_XNYZ to ``qubit``: it takes X to -Y and Z to X; only its VOP changes."""
    def c_xynz(self, qubit: int) -> None:
        """Apply C_XYNZ to ``qubit``: it takes X to Y and Z to -X; only its VOP changes."""
    def c_xyz(self, qubit: int) -> None:
        """Apply C_XYZ to ``qubit``: it takes X to Y and Z to X; only its VOP changes."""
    def c_znyx(self, qubit: int) -> None:
        """Apply C_ZNYX to ``qubit``: it takes X to Z and Z to -Y; only its VOP changes."""
    def c_zynx(self, qubit: int) -> None:
        """Apply C_ZYNX to ``qubit``: it takes X to -Z and Z to Y; only its VOP changes."""
    def c_zyx(self, qubit: int) -> None:
        """Apply C_ZYX to ``qubit``: it takes X to Z and Z to Y; only its VOP changes."""
    def h_nxy(self, qubit: int) -> None:
        """Apply H_NXY to ``qubit``: it takes X to -Y and Z to -Z; only its VOP changes."""
    def h_nxz(self, qubit: int) -> None:
        """Apply H_NXZ to ``qubit``: it takes X to -Z and Z to -X; only its VOP changes."""
    def h_nyz(self, qubit: int) -> None:
        """Apply H_NYZ to ``qubit``: it takes X to -X and Z to -Y; only its VOP changes."""
    def h_xy(self, qubit: int) -> None:
        """Apply H_XY to ``qubit``: it takes X to Y and Z to -Z; only its VOP changes."""
    def h_yz(self, qubit: int) -> None:
        """Apply H_YZ to ``qubit``: it takes X to -X and Z to Y; only its VOP changes."""
    def sqrt_x(self, qubit: int) -> None:
        """Apply SQRT_X to ``qubit``: it takes X to X and Z to -Y; only its VOP changes."""
    def sqrt_x_dag(self, qubit: int) -> None:
        """Apply SQRT_X_DAG to ``qubit``: it takes X to X and Z to Y; only its VOP changes."""
    def sqrt_y(self, qubit: int) -> None:
        """Apply SQRT_Y to ``qubit``: it takes X to -Z and Z to X; only its VOP changes."""
    def sqrt_y_dag(self, qubit: int) -> None:
        """Apply SQRT_Y_DAG to ``qubit``: it takes X to Z and Z to -X; only its VOP changes."""
    def s_dag(self, qubit: int) -> None:
        """Apply S_DAG to ``qubit``: it takes X to -Y and Z to Z; only its VOP changes."""
    def swap(self, a: int, b: int) -> None:
        """Exchange the states of ``a`` and ``b`` (three CX: a→b, b→a, a→b)."""
    def iswap(self, a: int, b: int) -> None:
        """ISWAP: SWAP that multiplies |01⟩ and |10⟩ by i (S on both, CZ, then SWAP)."""
    def iswap_dag(self, a: int, b: int) -> None:
        """ISWAP†: SWAP that multiplies |01⟩ and |10⟩ by -i."""
    def sqrt_xx(self, a: int, b: int) -> None:
        """√(X⊗X): multiply the -1 eigenspace of X⊗X by i."""
    def sqrt_xx_dag(self, a: int, b: int) -> None:
        """√(X⊗X)†: multiply the -1 eigenspace of X⊗X by -i."""
    def sqrt_yy(self, a: int, b: int) -> None:
        """√(Y⊗Y): multiply the -1 eigenspace of Y⊗Y by i."""
    def sqrt_yy_dag(self, a: int, b: int) -> None:
        """√(Y⊗Y)†: multiply the -1 eigenspace of Y⊗Y by -i."""
    def sqrt_zz(self, a: int, b: int) -> None:
        """√(Z⊗Z): multiply the -1 eigenspace of Z⊗Z by i."""
    def sqrt_zz_dag(self, a: int, b: int) -> None:
        """√(Z⊗Z)†: multiply the -1 eigenspace of Z⊗Z by -i."""
    def cxswap(self, a: int, b: int) -> None:
        """CX with ``a`` as control, then SWAP (the format's CXSWAP)."""
    def swapcx(self, a: int, b: int) -> None:
        """SWAP, then CX with ``a`` as control (the format's SWAPCX)."""
    def czswap(self, a: int, b: int) -> None:
        """CZ, then SWAP (the format's CZSWAP, alias SWAPCZ)."""
    def reset_x(self, qubit: int) -> None:
        """Reset ``qubit`` to |+⟩, as the format's RX: measure X (drawn from the
        thread's generator, as ``measure_x``), then apply Z if the outcome was -1.
        The draws are those of ``run("RX q")``."""
    def reset_y(self, qubit: int) -> None:
        """Reset ``qubit`` to |+i⟩, as RY: measure Y, then apply Z if the outcome was -1."""
    def reset_z(self, qubit: int) -> None:
        """Reset ``qubit`` to |0⟩, as R: measure Z, then apply X if the outcome was -1."""
    def state_vector(self) -> Any:
        """The register's 2**n amplitudes as a numpy ``complex64`` array, for at most 24 qubits.

        Qubit k is bit k of the basis index (little-endian, as Stim's
        ``state_vector(endian="little")``), and the global phase makes the
        first non-zero amplitude real and positive, so equal states give
        equal arrays whatever graph holds them.  Every amplitude is 0 or
        2**(-k/2) times a power of i, written exactly.  More than 24 qubits:
        ValueError; numpy missing: ImportError."""

    # Measurements collapse the state and cut the qubit out of the graph.

    def measure_x(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the X basis; the qubit is left in |+⟩ or |−⟩.

        Like every single-qubit measurement: returns a new
        ``MeasurementResult``.  The outcome is random, +1 or -1 with
        probability 1/2 each, unless the state fixes it (a qubit without
        neighbours, measured in the basis it is an eigenstate of); a random
        outcome draws one word from the calling thread's generator.
        Afterwards the qubit has no neighbours and the rest of the register
        holds the post-measurement state.  An index failure leaves the
        register and the generator unchanged.
        """
    def measure_y(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the Y basis; the qubit is left in |+i⟩ or |−i⟩."""
    def measure_z(self, qubit: int) -> MeasurementResult:
        """Measure ``qubit`` in the Z basis; the qubit is left in |0⟩ or |1⟩."""

    # Queries: read-only, the register is not changed.

    def get_entangled_group(self, qubit: int) -> set[int]:
        """A new set of the qubits in ``qubit``'s connected component, itself included.

        Qubits outside the set are in a product state with it.  Time linear
        in the size of the group.
        """
    def peek_measure_set(self, qubits: set[int] | frozenset[int]) -> dict[int, Outcome]:
        """Measure ``qubits`` on a copy of the register; the register is untouched.

        The qubits are measured one after the other in ascending order, on
        the same copy, so the outcomes are jointly consistent (as if
        measured for real in that order).  Each is measured in the basis
        whose outcome the state then fixes, if there is one (a qubit without
        neighbours on the copy; ``Outcome.deterministic`` is then True), and
        otherwise in X, Y or Z drawn uniformly at random.  Random draws
        advance the calling thread's generator.

        ``qubits`` must be a ``set`` or ``frozenset`` (subclasses included),
        else ``TypeError``.  Returns a new dict from each qubit to a new
        ``Outcome``; an empty set gives an empty dict and draws nothing.
        Only the entangled groups of the given qubits are copied, so the
        cost is proportional to those groups (qubits plus edges), not to
        the register.  An index at or above the size raises the index
        failure for the smallest such index, before anything is copied or
        drawn.
        """
    def get_vop(self, qubit: int) -> int:
        """The VOP of ``qubit``: its local Clifford operator, numbered 0..23.

        0 is the identity, 1 X, 2 Y, 3 Z, 5 S†, 6 S, 10 H; a new register
        has 10 on every qubit (H applied to |+⟩ gives |0⟩), and ``h`` makes
        it 0.  Two registers can represent the same state with different
        graphs and VOPs: compare states by measurements, ``expectation`` or
        ``fidelity``, not by VOPs.
        """
    def get_neighbors(self, qubit: int) -> list[int]:
        """A new list of ``qubit``'s neighbours in the graph, in the register's own order.

        A new edge is appended at the end of both qubits' lists; removing an
        edge keeps the order of the others.  Changing the list does not
        change the register.
        """

    # Bulk export: each call reads the register once, in time linear in its
    # qubits and edges.  Read-only.

    def vops(self) -> bytes:
        """Every qubit's VOP (0..23, as ``get_vop``), qubit 0 first: a new ``bytes`` of length n."""
    def edges(self) -> memoryview:
        """Every edge once, as a new flat read-only ``memoryview`` ``[a0, b0, a1, b1, ...]``.

        Each pair has a < b; pairs are sorted by a, and for one a they follow
        a's neighbour list (``get_neighbors``).  The entries are unsigned
        32-bit (``format == "I"``) when the register has at most ``2**32``
        qubits, else 64-bit (``"Q"``): read the format from the view.
        ``numpy.frombuffer(e, dtype=e.format).reshape(-1, 2)`` reads it as
        an (edges, 2) array without a copy; ``e.tolist()`` without numpy.  A
        register without edges gives an empty view.
        """
    def stabilizers(self) -> list[str]:
        """The n stabilizer generators of the state, generator q for qubit q.

        Each is a sign and one letter per qubit, qubit 0 first, in Stim's
        text form (``"+X_Z"``, ``"-YZ_"``; ``_`` is the identity), so
        ``stim.Tableau.from_stabilizers(map(stim.PauliString, sim.stabilizers()))``
        is a tableau of the same state.  The generator of qubit q is X on q
        and Z on each of its neighbours, each factor carried through that
        qubit's VOP with its sign.  The text is quadratic in n, so this is
        only for registers of at most 8192 qubits (``ValueError`` beyond);
        use ``stabilizer`` for larger ones.
        """
    def stabilizer(self, qubit: int) -> tuple[Literal[1, -1], dict[int, Literal["X", "Y", "Z"]]]:
        """The stabilizer generator of ``qubit``: a new ``(sign, {qubit: Pauli})``.

        ``sign`` is 1 or -1; the dict holds exactly the non-identity
        factors: ``qubit`` itself first, then each of its neighbours in list
        order.  The same operator as ``stabilizers()[qubit]``, for registers
        of any size.
        """
    def entanglement_entropy(self, qubits: set[int] | frozenset[int]) -> int:
        """The entanglement entropy, in bits, of ``qubits`` against the rest of the register.

        For a stabilizer state the von Neumann and every Rényi entropy
        agree.  It is the GF(2) rank of the graph's adjacency between the
        set and the rest (the VOPs, being local, do not change it): an empty
        set and the whole register give 0, a set and its complement the same
        value.  Only the lists of the set's own qubits are read.  ``qubits``
        follows the rules of ``peek_measure_set``.

        Cost: reading the lists is linear in the set's edges.  The rank is
        taken on the cut edges alone: first, as long as some qubit has a
        single cut edge, that edge adds 1 and both its qubits leave the cut
        (exact, and linear in the cut edges), which takes all of a tree, a
        chain, the cut of a lattice or of a typical sparse random graph of
        mean degree up to about 5.  What remains (every qubit with at least
        two cut edges) is ranked per connected piece by bit-packed
        elimination: for a piece with r qubits on one side and c <= r on the
        other, at most r * c**2 / 64 word operations and c**2 / 8 bytes.  On
        a random graph of 2 * 10**5 qubits the half cut takes a fraction of
        a second at mean degree 4 and minutes at mean degree 8, where most
        of the cut remains.  The call looks for signals as it eliminates
        (about every 2**20 words), so Ctrl-C raises ``KeyboardInterrupt``.
        """

    # Copies and saved states.

    def copy(self) -> Ordavine:
        """A new, independent register with the same graph (every list in the same order) and VOPs.

        Time and memory linear in qubits and edges.
        """
    def __copy__(self) -> Ordavine:
        """The same as ``copy()``."""
    def __deepcopy__(self, memo: dict[int, Any]) -> Ordavine:
        """The same as ``copy()``: a register holds no Python objects."""
    def to_bytes(self) -> bytes:
        """The register's saved form: magic ``b"ORDV"``, version 1, the size,
        one byte per VOP and the neighbour lists in order."""
    @classmethod
    def from_bytes(cls, data: bytes | bytearray | memoryview) -> Ordavine:
        """A register rebuilt from ``to_bytes()`` output: the same graph, list order and VOPs.

        ``data`` is any object with the buffer protocol (else
        ``TypeError``); a view that is not contiguous (a ``memoryview``
        taken with a step, a strided array) is read as the bytes it shows,
        in order.  The data is treated as untrusted: damaged or foreign data
        raises ``ValueError("invalid saved state: ...")`` naming what is
        wrong, and nothing is built from it.  A size the data cannot hold is
        refused before any memory is reserved.
        """
    def __reduce__(self) -> tuple[Callable[[bytes], Ordavine], tuple[bytes]]:
        """Pickling (any protocol) through ``from_bytes`` and ``to_bytes``."""

    # Whole circuits.

    def run(self, circuit: str) -> bytes:
        """Run circuit text on the register; one 0/1 byte per measurement, in order.

        The text is the stabilizer circuit format read by Stim, every
        instruction of it (Clifford gates, Pauli and Pauli-product
        measurements, product rotations, resets, feed-forward from
        ``rec[-k]``, Pauli and heralded noise, ``REPEAT``, detectors and
        observables, tags and coordinates).  Everything is checked before
        anything runs: a refused text, or a qubit index at or above the
        register size, raises ``ValueError("line L, column C: ...")`` and
        leaves the register untouched (a lone surrogate, which UTF-8 cannot
        encode, is refused so too); ``circuit`` must be a ``str``
        (``TypeError``).  Random outcomes and noise draw from the calling
        thread's generator, and a run leaves the same graph, list order,
        VOPs and record as the same gates called one by one with the same
        seed.  ``DETECTOR`` and ``OBSERVABLE_INCLUDE`` are ignored here.
        ``numpy.frombuffer(record, numpy.uint8)`` takes the record without a
        copy.

        A refused call (text, index, record size, memory for the record)
        changes nothing and draws nothing.  ``MemoryError`` says what could
        not be had: ``"could not allocate N bytes for the measurement
        record"``, ``"could not allocate the program of N bytes of circuit
        text"``, or, while the circuit runs, ``"line L: could not allocate
        room in the register's neighbour lists"``; the last leaves the
        register holding the state after the steps that ran.

        The run looks for signals as it works: about every 2**20 units of
        work, counted as one per instruction, repetition and target, plus,
        for every qubit with more than 16 neighbours that a gate or
        measurement updates the graph around, the square of its neighbour
        count (the pairs a local complementation may toggle).  Ctrl-C then raises ``KeyboardInterrupt`` (a signal
        handler's own exception, if it raises another) between two gates:
        no record is returned, and the register is valid, holding the state
        after the gates, measurements and noise that ran, as the same calls
        made one by one would have left it; the generator has moved by
        their draws.  A signal handler that uses this register meets
        ``RuntimeError("Already borrowed")``.
        """

    # The register as an instrument.

    @property
    def num_qubits(self) -> int:
        """The number of qubits in the register (read-only)."""
    def expectation(self, pauli: _Product) -> Literal[1, -1, 0]:
        """The expectation value of a Pauli product: +1, -1, or 0 when its outcome is random.

        ``pauli`` is one of:

        * text in the circuit format's product syntax, as ``MPP`` takes it:
          ``"X0*Z5*Y7"``, letters in either case, each factor optionally
          preceded by ``!``, the whole by ``+`` or ``-``; ``-`` and each ``!``
          negate the product;
        * text in Stim's dense form, read as such when it holds no digit,
          ``*`` or ``!``: ``"+XZ_Y"``, one letter per qubit from qubit 0
          (``_`` or ``I`` the identity), at most as many as the register has
          qubits, so every string ``stabilizers()`` returns can be handed
          back;
        * a dict ``{qubit: "X" | "Y" | "Z"}``, with sign +1, or the
          ``(sign, dict)`` pair that ``stabilizer`` returns.

        Factors on one qubit multiply with their phases, as in ``MPP``
        (``X0*X0`` is the identity, ``Z0*X0*Z0`` is ``-X0``); a product with
        phase ±i (``X0*Z0``) raises ``ValueError``.  ``""`` and ``{}`` are
        the identity, ``"-"`` minus the identity.  Malformed text, or text
        naming a qubit at or above the size, raises ``ValueError`` naming
        the column; a dict key follows the qubit argument rules; a dict
        value other than ``"X"``, ``"Y"``, ``"Z"`` is a ``ValueError``
        (``TypeError`` when not a ``str``); any other type is a ``TypeError``.

        Read-only and draws nothing.  Reads only the lists of the qubits on
        which the product, carried through the VOPs, has an X part, so it
        costs time in their degrees, not in the register size.
        """
    def measure_pauli(self, pauli: _Product) -> MeasurementResult:
        """Measure a Pauli product (as ``MPP`` does) and collapse the state; a new ``MeasurementResult``.

        ``pauli`` as for ``expectation``.  A random outcome draws one word
        from the thread's generator; a fixed one draws nothing and changes
        nothing, so the same seed gives the same outcomes and registers as
        ``MPP`` in a circuit.  The identity measures +1.
        """
    def postselect_x(self, qubit: int, result: _Outcome) -> float:
        """Force the X outcome of ``qubit`` to ``result``, without a random draw.

        ``result`` is 0 or ``MeasurementResult.PlusOne`` for +1, 1 or
        ``MinusOne`` for -1 (an ``int``, a ``bool``, where ``True`` is -1, or
        an object with ``__index__``); another integer raises ``ValueError``,
        another type ``TypeError``.  Returns the probability the outcome had,
        as a ``float``: 1.0 when the state fixed it, 0.5 when it was random
        (the register then holds the collapsed state), so a heralded
        protocol's success probability is the product of the returned
        values.  When the state gives the other outcome with certainty,
        raises ``ValueError`` naming it and leaves the register as it was.
        """
    def postselect_y(self, qubit: int, result: _Outcome) -> float:
        """As ``postselect_x``, in the Y basis."""
    def postselect_z(self, qubit: int, result: _Outcome) -> float:
        """As ``postselect_x``, in the Z basis."""
    def postselect_pauli(self, pauli: _Product, result: _Outcome) -> float:
        """As ``postselect_x``, for a Pauli product given as for ``expectation``."""
    def fidelity(self, other: Ordavine, qubits: Sequence[int] | None = None) -> float:
        """The fidelity with the state of ``other``: 0.0 or a power of 1/2.

        Without ``qubits`` (or with ``None``): |⟨ψ|φ⟩|² of this register's
        state ψ and ``other``'s state φ, which must have the same size
        (``ValueError`` when they differ); this reads both registers.  With
        ``qubits``, a sequence (list, tuple, ``range``, numpy array,
        iterator) of distinct qubits of this register, as many as ``other``
        has: ⟨φ|ρ|φ⟩, ρ this register's reduced state on those qubits,
        ``qubits[i]`` standing for qubit i of ``other``.  That costs time in
        the degrees of the named qubits, not in the register size.  A
        ``set`` is refused (``TypeError``: its order is not the caller's), as
        are a qubit listed twice and a count other than ``other``'s size
        (``ValueError``).  No more qubits are read than ``other`` has, and
        one more: a longer sequence is refused for its ``len()``
        (``range(10**18)`` is not read to its end), or as holding "more
        than" that many when it has no length.  What the sequence's own code
        raises while it is read passes on unchanged.
        """
    @classmethod
    def from_graph(
        cls,
        nodes: int,
        edges: Buffer | Iterable[Sequence[SupportsIndex]],
        vops: Buffer | None = None,
    ) -> Ordavine:
        """A new register holding the graph state of ``edges`` on ``nodes`` qubits, with VOPs from ``vops``.

        ``edges``: an iterable of pairs (any two-item sequences of
        integers), or a buffer of integers: an (m, 2) numpy array of any
        integer type, byte order or layout, a flat (2m,) buffer of pairs in
        a row, or the memoryview that ``edges()`` returns.  Buffers are read
        in place through their strides, as the items they show.  Edge (a, b)
        appends b to a's list and a to b's, so each list follows the order
        the edges are given.  ``vops``: any buffer of single bytes, one per
        qubit, each 0..23 (what ``vops()`` returns); by default every VOP is
        0, the plain graph state (|+⟩ on every qubit, CZ on every edge).
        ``nodes`` follows the constructor's rules.

        Everything is checked in O(n + m) before the register is handed
        out, and a refusal builds nothing (bad edges are refused before the
        node array of ``nodes`` qubits is allocated): a self loop, an edge given twice
        in either orientation, a qubit outside 0..nodes-1, a pair of another
        length, a flat buffer of odd length, an array of another shape, or
        ``vops`` of the wrong length or with a value of 24 or more raises
        ``ValueError("invalid graph: ...")`` naming it; edges that are
        neither a buffer nor an iterable of pairs, a buffer of non-integers,
        or ``vops`` that is not a buffer of bytes raise ``TypeError``.
        What the iterables' own code raises while they are read passes on
        unchanged; a pair is read no further than a third entry.
        """
    @classmethod
    def from_stabilizers(cls, stabilizers: Sequence[str]) -> Ordavine:
        """A new register in the state stabilized by n generators in Stim's text form.

        Each generator is ``"+XZ_"``-style text, as ``stabilizers()``
        returns it: an optional sign ``+`` or ``-``, then one of
        ``_ I X Y Z`` per qubit, n letters for n generators (any sequence or
        iterable of ``str``, read one by one and refused at the first item
        that is not a ``str``; a lone ``str`` is a ``TypeError``).  A
        malformed generator, an imaginary sign, the wrong length (counted
        in characters; one outside ASCII is refused by position), generators
        that anticommute or that are not independent raise
        ``ValueError("invalid stabilizers: ...")``, before any room is
        taken for the elimination.  Gaussian elimination
        over GF(2), O(n³/64) word operations; lists come out in ascending
        order.  ``Ordavine.from_stabilizers(sim.stabilizers())`` gives the
        state of ``sim``, not necessarily its graph.
        """
    def local_complement(self, qubit: int) -> None:
        """Complement the graph on ``qubit``'s neighbourhood, correcting the VOPs so the state is unchanged.

        Every pair of its neighbours is toggled, in list order; √(iX) is
        multiplied under ``qubit``'s VOP and S under each neighbour's.
        """
    def add_qubits(self, count: int) -> int:
        """Append ``count`` qubits in |0⟩; returns the index of the first new one (the old size).

        Existing qubits, their lists and VOPs are untouched; ``add_qubits(0)``
        changes nothing.  Room grows geometrically, so adding qubits one or
        two at a time costs constant time each.  The size limits and errors
        of the constructor apply to the total, and a refused call changes
        nothing.
        """
    def x_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply X to ``qubit`` with probability ``p``, drawing what ``X_ERROR(p)`` draws.

        Like every noise method: after the same seed, the call leaves the
        same register as the circuit instruction of the same name run on
        one target (one word drawn, then the Pauli where a channel with
        several fires; nothing when ``p`` is 0).  ``p`` is a ``float`` (or
        an ``int``, or anything with ``__float__`` or else ``__index__``, as
        numpy scalars have, on CPython and PyPy alike) in [0, 1]; outside
        it, or NaN, raises ``ValueError``.  Nothing is drawn when an argument is
        refused.
        """
    def y_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply Y to ``qubit`` with probability ``p``, drawing what ``Y_ERROR(p)`` draws."""
    def z_error(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """Apply Z to ``qubit`` with probability ``p``, drawing what ``Z_ERROR(p)`` draws."""
    def depolarize1(self, qubit: int, p: SupportsFloat | SupportsIndex) -> None:
        """With probability ``p``, X, Y or Z on ``qubit``, each with ``p/3`` (``DEPOLARIZE1(p)``)."""
    def depolarize2(self, a: int, b: int, p: SupportsFloat | SupportsIndex) -> None:
        """With probability ``p``, one of the 15 non-identity Pauli pairs on ``a``, ``b``, each with ``p/15`` (``DEPOLARIZE2(p)``).

        ``a == b`` raises ``PanicException("a and b must be different
        qubits, both are {q}")``, as the two-qubit gates do.
        """
