"""The golden corpus: what is computed for each entry, as {output kind: SHA-256}.

Entries and the outputs they freeze:

- ``code/NAME``: Stim's generated code families with noise, stored in
  ``circuits/``: ``sample`` and ``sample_detectors`` rows for several seeds
  and shot ranges, both row layouts; rows with ``seed=None`` after
  ``ordavine.seed`` and what the thread's generator gives after them; ``run``
  records and the register left;
- ``streams/long``: 40000 draws from the thread's generator (past its
  re-keying) in a run, and shots of 2500 random rows each;
- ``random/K``: circuit K of ``random_circuits`` (every instruction): its
  text, ``run`` records and registers after ``ordavine.seed``, shot rows;
- ``cluster/...``: 1D and 2D cluster states built by gates (and by ``run``),
  measured in mixed bases after ``ordavine.seed``: outcomes and registers;
- ``register/K``: a random state, the read-only queries on it, and seeded
  sequences of every drawing method (measurements, products, postselection,
  noise, peeks) with their results and the registers left;
- ``saved/...``: ``to_bytes`` of assorted registers, and the bytes again after
  ``from_bytes``, pickling and ``copy``, and seeded measurements of the loaded
  register.

Every entry seeds what it draws from, so each can be computed on its own
and in any order.  A register is frozen through ``to_bytes``, which holds the
size, every VOP and every neighbour list in order.
"""

import hashlib
import pickle
import random
from array import array
from pathlib import Path

import ordavine
from ordavine import MeasurementResult, Ordavine

from golden.random_circuits import random_circuit

HERE = Path(__file__).resolve().parent
CIRCUITS = HERE / "circuits"
DIGESTS = HERE / "digests.json"

RANDOM_CIRCUITS = 36
RANDOM_REGISTERS = 8
# (first shot, shots): from the start; inside block 1 (blocks hold 256
# shots); across blocks 0, 1 and 2.
SHOT_RANGES = ((0, 100), (300, 100), (200, 400))
# For the code families also a long run of blocks, 3 to 23.
LONG_SHOT_RANGES = SHOT_RANGES + ((1000, 5000),)
BIG_SEED = 2**300 + 7  # longer than one 32-byte chunk of the key derivation
SEED_NAMES = {BIG_SEED: "2**300+7"}

SINGLE_QUBIT_METHODS = ("x", "y", "z", "h", "s", "sdag")
TWO_QUBIT_METHODS = ("cz", "cx", "xcx", "ycx", "xcz", "ycz", "cy", "xcy", "ycy")


def digest(*parts):
    """SHA-256 of the parts (bytes or str), each framed by its length."""
    sha = hashlib.sha256()
    for part in parts:
        data = part.encode() if isinstance(part, str) else bytes(part)
        sha.update(len(data).to_bytes(8, "little"))
        sha.update(data)
    return sha.hexdigest()


def digest_log(log):
    """SHA-256 of a list of plain values (ints, floats, str, bytes, lists, tuples)."""
    return digest("\n".join(repr(entry) for entry in log))


def seed_name(seed):
    return SEED_NAMES.get(seed, str(seed))


# ---- circuits ------------------------------------------------------------------

def shot_outputs(text, seeds, ranges=SHOT_RANGES):
    """Rows of sample and sample_detectors for each seed, shot range and layout."""
    out = {}
    for seed in seeds:
        for first, count in ranges:
            for packed in (False, True):
                where = f"seed={seed_name(seed)} shots {first}..{first + count - 1} bit_packed={packed}"
                out[f"sample {where}"] = digest(
                    ordavine.sample(text, count, seed=seed, first_shot=first, bit_packed=packed))
                out[f"sample_detectors {where}"] = digest(
                    *ordavine.sample_detectors(text, count, seed=seed, first_shot=first, bit_packed=packed))
    return out


def thread_outcomes(count):
    """`count` outcomes drawn from the thread's generator: where its stream stands."""
    return bytes(int(Ordavine(1).measure_x(0)) for _ in range(count))


def thread_seeded_shot_outputs(text):
    """Rows with seed=None, whose key comes from the thread's generator, and that generator after."""
    out = {}
    for packed in (False, True):
        ordavine.seed(7)
        rows = ordavine.sample(text, 100, first_shot=300, bit_packed=packed)
        out[f"sample seed=None after seed(7) bit_packed={packed}"] = digest(rows, thread_outcomes(32))
        ordavine.seed(7)
        rows = ordavine.sample_detectors(text, 100, first_shot=300, bit_packed=packed)
        out[f"sample_detectors seed=None after seed(7) bit_packed={packed}"] = digest(*rows, thread_outcomes(32))
    return out


def run_outputs(text, qubits, seeds):
    """Records of two runs on one register after ordavine.seed, and the register left."""
    out = {}
    for seed in seeds:
        ordavine.seed(seed)
        sim = Ordavine(qubits)
        records = (sim.run(text), sim.run(text))
        out[f"run seed={seed_name(seed)} records"] = digest(*records)
        out[f"run seed={seed_name(seed)} to_bytes"] = digest(sim.to_bytes())
    return out


def stored_circuit(path):
    """(text, register size) of a stored circuit; its header says `# qubits: N`."""
    text = path.read_text()
    for line in text.splitlines():
        if line.startswith("# qubits:"):
            return text, int(line.split(":")[1])
    raise ValueError(f"{path.name} has no '# qubits: N' line")


def code_family_outputs(path):
    text, qubits = stored_circuit(path)
    out = {"circuit text": digest(text)}
    out.update(shot_outputs(text, (1, 2024, BIG_SEED), LONG_SHOT_RANGES))
    out.update(thread_seeded_shot_outputs(text))
    out.update(run_outputs(text, qubits, (3, BIG_SEED)))
    return out


def random_circuit_outputs(index):
    text, qubits, _ = random_circuit(index)
    out = {"circuit text": digest(text)}
    out.update(run_outputs(text, qubits, (index, 1000 + index)))
    out.update(shot_outputs(text, (index,)))
    return out


# A random outcome every step: 40000 words of the thread's generator, which
# takes a new key after every 1024 blocks of 16 words.
MANY_DRAWS = "REPEAT 40000 {\nH 0\nM 0\n}\n"
# Per shot block, 2500 random gauge rows and a few thousand noise draws.
MANY_ROWS = "REPEAT 2500 {\nH 0\nX_ERROR(0.5) 1\nDEPOLARIZE1(0.3) 0\nM 0 1\nDETECTOR rec[-1]\n}\n"


def stream_outputs():
    out = run_outputs(MANY_DRAWS, 1, (5, BIG_SEED))
    out.update(shot_outputs(MANY_ROWS, (1,), SHOT_RANGES[:1] + SHOT_RANGES[2:]))
    return out


# ---- registers -----------------------------------------------------------------

def apply_random_gate(sim, rng):
    """One of the 15 gate methods on random qubits (a single-qubit one on one qubit)."""
    if sim.num_qubits < 2 or rng.random() < 0.5:
        getattr(sim, rng.choice(SINGLE_QUBIT_METHODS))(rng.randrange(sim.num_qubits))
    else:
        a, b = rng.sample(range(sim.num_qubits), 2)
        getattr(sim, rng.choice(TWO_QUBIT_METHODS))(a, b)


def random_register(rng, qubits, gates):
    sim = Ordavine(qubits)
    for _ in range(gates):
        apply_random_gate(sim, rng)
    return sim


def random_product_argument(rng, n):
    """A Pauli product in one of the forms the instrument methods take."""
    qubits = rng.sample(range(n), rng.randint(1, min(4, n)))
    paulis = {q: rng.choice("XYZ") for q in qubits}
    sign = rng.choice((1, -1))
    form = rng.randrange(4)
    if form == 0:  # the circuit format's product syntax
        factors = "*".join(("!" if rng.random() < 0.2 else "") + p + str(q) for q, p in paulis.items())
        return rng.choice(("", "+", "-")) + factors
    if form == 1:  # the dense form, one letter per qubit from qubit 0
        dense = "".join(paulis.get(q, rng.choice("_I")) for q in range(max(qubits) + 1))
        return ("-" if sign < 0 else rng.choice(("", "+"))) + dense
    if form == 2:
        return paulis
    return (sign, paulis)


def query_log(sim, rng):
    """Every read-only query on `sim`, with random arguments where they take some."""
    n = sim.num_qubits
    edges = sim.edges()
    log = [sim.vops(), edges.format, edges.tolist(), sim.stabilizers()]
    log += [(sim.get_vop(q), sim.get_neighbors(q), sorted(sim.get_entangled_group(q)),
             sim.stabilizer(q)[0], list(sim.stabilizer(q)[1].items())) for q in range(n)]
    log += [sim.entanglement_entropy(set(rng.sample(range(n), rng.randint(0, n)))) for _ in range(6)]
    log += [sim.expectation(random_product_argument(rng, n)) for _ in range(12)]
    other = random_register(rng, n, 2 * n)
    log += [sim.fidelity(other), sim.fidelity(sim.copy())]
    part = rng.randint(1, min(n, 4))
    log.append(sim.fidelity(random_register(rng, part, 2 * part), rng.sample(range(n), part)))
    return log


POSTSELECT_RESULTS = (0, 1, False, True, MeasurementResult.PlusOne, MeasurementResult.MinusOne)


def seeded_call(sim, rng):
    """One random call of a method that may draw; what it returned, as plain values."""
    n = sim.num_qubits
    q = rng.randrange(n)
    kind = rng.randrange(11)
    if kind < 2:
        basis = rng.choice("xyz")
        return (f"measure_{basis}", q, int(getattr(sim, f"measure_{basis}")(q)))
    if kind == 2:
        product = random_product_argument(rng, n)
        return ("measure_pauli", repr(product), int(sim.measure_pauli(product)))
    if kind in (3, 4):
        pauli = rng.random() < 0.3
        target = random_product_argument(rng, n) if pauli else q
        method = "postselect_pauli" if pauli else f"postselect_{rng.choice('xyz')}"
        result = rng.choice(POSTSELECT_RESULTS)
        try:
            probability = getattr(sim, method)(target, result)
        except ValueError:  # the state gives the other outcome with certainty
            probability = "refused"
        return (method, repr(target), int(result), probability)
    if kind in (5, 6):
        method = rng.choice(("x_error", "y_error", "z_error", "depolarize1", "depolarize2"))
        p = rng.choice((0, 1, 0.25, 0.5, 0.9, round(rng.random(), 3)))
        targets = rng.sample(range(n), 2 if method == "depolarize2" else 1)
        getattr(sim, method)(*targets, p)
        return (method, targets, p, sim.vops())
    if kind == 7:
        qubits = set(rng.sample(range(n), rng.randint(0, n)))
        peeked = sim.peek_measure_set(frozenset(qubits) if rng.random() < 0.5 else qubits)
        return ("peek", sorted((k, int(o.result), o.basis, o.deterministic) for k, o in peeked.items()))
    if kind in (8, 9):  # entangle again what measurements cut
        apply_random_gate(sim, rng)
        return ("gate",)
    return ("to_bytes", sim.to_bytes())


def register_outputs(index):
    rng = random.Random(5000 + index)
    n = rng.randint(5, 20)
    built = random_register(rng, n, 5 * n)
    out = {"built to_bytes": digest(built.to_bytes()), "queries": digest_log(query_log(built, rng))}
    for seed in (index, 100 + index):
        sim = built.copy()
        calls = random.Random(seed)
        ordavine.seed(seed)
        log = [seeded_call(sim, calls) for _ in range(60)]
        out[f"seeded calls seed={seed} results"] = digest_log(log)
        out[f"seeded calls seed={seed} to_bytes"] = digest(sim.to_bytes())
    return out


# ---- clusters ------------------------------------------------------------------

def cluster_edges(rows, columns):
    """The edges of a rows x columns grid, row-major, right neighbour before lower."""
    edges = []
    for q in range(rows * columns):
        if (q + 1) % columns:
            edges.append((q, q + 1))
        if q + columns < rows * columns:
            edges.append((q, q + columns))
    return edges


def cluster_by_gates(rows, columns):
    sim = Ordavine(rows * columns)
    for q in range(rows * columns):
        sim.h(q)
    for a, b in cluster_edges(rows, columns):
        sim.cz(a, b)
    return sim


def cluster_outputs(rows, columns):
    n = rows * columns
    built = cluster_by_gates(rows, columns)
    by_run = Ordavine(n)
    by_run.run(f"H {' '.join(map(str, range(n)))}\n"
               + "".join(f"CZ {a} {b}\n" for a, b in cluster_edges(rows, columns)))
    out = {"built to_bytes": digest(built.to_bytes()), "built by run to_bytes": digest(by_run.to_bytes())}
    for seed in (1, 2):
        rng = random.Random(seed)
        sim = built.copy()
        order = list(range(n))
        rng.shuffle(order)
        ordavine.seed(seed)
        outcomes, snapshots = [], []
        for step, q in enumerate(order):
            if step % 5 == 4:  # now and then a product of the qubit and a neighbour
                neighbours = sim.get_neighbors(q)
                pair = {q: rng.choice("XYZ")}
                if neighbours:
                    pair[neighbours[0]] = rng.choice("XYZ")
                outcomes.append(int(sim.measure_pauli(pair)))
            basis = rng.choice("xyz")
            outcomes.append(int(getattr(sim, f"measure_{basis}")(q)))
            if step == n // 2:
                snapshots.append(sim.to_bytes())
                peeked = sim.peek_measure_set(set(order[step + 1:step + 6]))
                outcomes += [(k, int(o.result), o.basis, o.deterministic) for k, o in sorted(peeked.items())]
        out[f"measured seed={seed} outcomes"] = digest_log(outcomes)
        out[f"measured seed={seed} to_bytes halfway"] = digest(*snapshots)
        out[f"measured seed={seed} to_bytes"] = digest(sim.to_bytes())
    return out


# ---- saved states --------------------------------------------------------------

def ghz(n):
    sim = Ordavine(n)
    sim.h(0)
    for q in range(1, n):
        sim.cx(0, q)
    return sim


def locally_complemented():
    sim = random_register(random.Random(11), 9, 30)
    for q in (0, 4, 8, 4):
        sim.local_complement(q)
    return sim


def grown():
    sim = ghz(4)
    first = sim.add_qubits(3)
    sim.cz(0, first)
    sim.cx(first + 2, 1)
    sim.add_qubits(0)
    return sim


def partly_measured_cluster():
    sim = cluster_by_gates(4, 4)
    sim.postselect_z(5, 0)
    sim.postselect_x(10, 1)
    sim.postselect_y(0, MeasurementResult.MinusOne)
    return sim


def single_qubit_gates():
    sim = Ordavine(6)
    for q, names in enumerate(("x", "y z", "h s", "sdag h", "s s h y", "")):
        for name in names.split():
            getattr(sim, name)(q)
    return sim


SAVED_REGISTERS = {
    "empty": lambda: Ordavine(0),
    "fresh_5": lambda: Ordavine(5),
    "single_qubit_gates": single_qubit_gates,
    "ghz_6": lambda: ghz(6),
    "from_graph_ring_with_vops": lambda: Ordavine.from_graph(
        8, [(q, (q + 3) % 8) for q in range(8)], bytes(range(0, 24, 3))),
    "from_graph_flat_buffer": lambda: Ordavine.from_graph(6, array("I", [4, 1, 0, 5, 2, 3, 1, 5])),
    "from_stabilizers": lambda: Ordavine.from_stabilizers(random_register(random.Random(5), 7, 25).stabilizers()),
    "local_complement": locally_complemented,
    "add_qubits": grown,
    "postselected_cluster": partly_measured_cluster,
    "random_20": lambda: random_register(random.Random(8), 20, 80),
}


def saved_outputs(name):
    sim = SAVED_REGISTERS[name]()
    saved = sim.to_bytes()
    loaded = Ordavine.from_bytes(saved)
    out = {
        "to_bytes": digest(saved),
        "from_bytes then to_bytes": digest(loaded.to_bytes()),
        "from_bytes of a bytearray then to_bytes": digest(Ordavine.from_bytes(bytearray(saved)).to_bytes()),
        "pickled then to_bytes": digest(pickle.loads(pickle.dumps(sim)).to_bytes()),
        "copy then to_bytes": digest(sim.copy().to_bytes()),
    }
    ordavine.seed(31)
    rng = random.Random(31)
    outcomes = bytes(int(getattr(loaded, f"measure_{rng.choice('xyz')}")(q)) for q in range(loaded.num_qubits))
    out["loaded, measured after seed(31)"] = digest(outcomes, loaded.to_bytes())
    return out


# ---- the whole corpus ----------------------------------------------------------

def entries():
    """Entry name -> function computing its {output kind: digest}."""
    table = {}
    for path in sorted(CIRCUITS.glob("*.stim")):
        table[f"code/{path.stem}"] = lambda path=path: code_family_outputs(path)
    table["streams/long"] = stream_outputs
    for k in range(RANDOM_CIRCUITS):
        table[f"random/{k:02d}"] = lambda k=k: random_circuit_outputs(k)
    for rows, columns in ((1, 16), (4, 5), (6, 6)):
        table[f"cluster/{rows}x{columns}"] = lambda r=rows, c=columns: cluster_outputs(r, c)
    for k in range(RANDOM_REGISTERS):
        table[f"register/{k}"] = lambda k=k: register_outputs(k)
    for name in SAVED_REGISTERS:
        table[f"saved/{name}"] = lambda name=name: saved_outputs(name)
    return table
