"""The module object, its three classes and what the built library exports."""

import gc
import inspect
import shutil
import subprocess
import weakref

import pytest

import ordavine
from helpers import ALL_METHODS, IS_PYPY, METHOD_PARAMETERS, assert_ran, cpython_only

CLASS_NAMES = ["MeasurementResult", "Outcome", "Ordavine"]


def test_all_lists_the_three_classes_in_order():
    assert ordavine.__all__ == CLASS_NAMES
    assert type(ordavine.__all__) is list


def test_module_documentation_is_empty():
    assert ordavine.__doc__ == ""


def test_module_functions_are_seed_and_the_samplers():
    public = {name for name in dir(ordavine) if not name.startswith("_")}
    circuit_classes = {"Circuit", "CompiledMeasurementSampler", "CompiledDetectorSampler"}
    assert public == set(CLASS_NAMES) | {"seed", "sample", "sample_detectors"} | circuit_classes
    for name in circuit_classes:
        assert getattr(ordavine, name).__module__ == "ordavine" and name not in ordavine.__all__


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_names(name):
    cls = getattr(ordavine, name)
    assert isinstance(cls, type)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "ordavine"
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("name", ["MeasurementResult", "Outcome"])
def test_classes_without_constructor_cannot_be_instantiated(name):
    cls = getattr(ordavine, name)
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize("name", ["MeasurementResult", "Outcome"])
def test_classes_without_constructor_have_no_documentation(name):
    assert getattr(ordavine, name).__doc__ is None


@cpython_only
def test_constructor_text_signature():
    assert ordavine.Ordavine.__text_signature__ == "(nodes)"
    assert str(inspect.signature(ordavine.Ordavine)) == "(nodes)"
    assert not ordavine.Ordavine.__doc__


@cpython_only
@pytest.mark.parametrize("method", ALL_METHODS)
def test_method_text_signatures(method):
    if not hasattr(ordavine.Ordavine, method):
        pytest.skip(f"Ordavine.{method} is not available in this build")
    function = getattr(ordavine.Ordavine, method)
    parameters = ", ".join(METHOD_PARAMETERS[method])
    assert function.__text_signature__ == f"($self, {parameters})"
    assert not function.__doc__


def test_methods_are_declared_in_order():
    present = [name for name in ALL_METHODS if hasattr(ordavine.Ordavine, name)]
    declared = [name for name in vars(ordavine.Ordavine) if name in METHOD_PARAMETERS]
    assert declared == present


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_subclassing_is_refused(name):
    base = getattr(ordavine, name)
    for make in (lambda: type("Derived", (base,), {}), lambda: type("Derived", (int, base), {})):
        with pytest.raises(TypeError, match=rf"^type 'ordavine\.{name}' is not an acceptable base type$"):
            make()


def test_instances_take_no_new_attributes():
    sim = ordavine.Ordavine(1)
    result = sim.measure_z(0)
    outcome = sim.peek_measure_set({0})[0]
    for instance, name, prop in ((sim, "Ordavine", "num_qubits"), (result, "MeasurementResult", None),
                                 (outcome, "Outcome", "basis")):
        owner = f"'ordavine.{name}' object"
        with pytest.raises(AttributeError, match=f"^{owner} has no attribute 'label'$"):
            instance.label = "register"
        with pytest.raises(AttributeError, match=f"^{owner} has no attribute 'label'$"):
            del instance.label
        with pytest.raises(AttributeError, match=f"^{owner} attribute '__repr__' is read-only$"):
            instance.__repr__ = repr
        if prop is not None:
            with pytest.raises(AttributeError, match=f"^attribute '{prop}' of {owner}s is not writable$"):
                setattr(instance, prop, 0)
        with pytest.raises(TypeError):
            instance.__class__ = ordavine.Ordavine if name != "Ordavine" else ordavine.Outcome
        instance.__class__ = type(instance)  # the class it has: allowed, as on CPython
        assert not hasattr(instance, "label")
    assert sim.num_qubits == 1 and int(result) == 0 and outcome.basis == "Z"
    if not IS_PYPY:  # PyPy's C-API layer shows an (empty) dictionary on every instance
        with pytest.raises(AttributeError):
            sim.__dict__


def test_constructor_builds_only_into_its_own_class(run_python):
    """A register is built only into an Ordavine: another class, or an
    object that is no class, is refused with CPython's text (PyPy hands the
    constructor whatever it is given; building into another class's memory
    corrupted the heap, so this runs in a child process)."""
    result = run_python(
        """
        import ordavine
        from ordavine import MeasurementResult, Ordavine, Outcome

        class Plain:
            pass

        for given in (MeasurementResult, Outcome, Plain, int, 5):
            try:
                Ordavine.__new__(given, 5)
            except TypeError as error:
                print(error)
        for cls in (Ordavine, MeasurementResult, Outcome):
            try:
                made = object.__new__(cls)  # CPython refuses here, PyPy when it is used
                made.num_qubits if cls is Ordavine else int(made) if cls is MeasurementResult else made.basis
            except TypeError as error:
                print(error)
        print(Ordavine.__new__(Ordavine, 3).num_qubits)
        """
    )
    assert_ran(result)
    subtype = "ordavine.Ordavine.__new__({0}): {0} is not a subtype of ordavine.Ordavine"
    unsafe = "object.__new__(ordavine.{0}) is not safe, use ordavine.{0}.__new__()"
    assert result.stdout.splitlines() == [
        subtype.format("ordavine.MeasurementResult"),
        subtype.format("ordavine.Outcome"),
        subtype.format("Plain"),
        subtype.format("int"),
        "ordavine.Ordavine.__new__(X): X is not a type object (int)",
        unsafe.format("Ordavine"),
        unsafe.format("MeasurementResult"),
        unsafe.format("Outcome"),
        "3",
    ]


@cpython_only
def test_instances_refuse_weak_references():
    sim = ordavine.Ordavine(1)
    with pytest.raises(TypeError):
        weakref.ref(sim)


@cpython_only
def test_instances_are_not_tracked_by_the_cycle_collector():
    assert not gc.is_tracked(ordavine.Ordavine(2))


def test_default_representation():
    sim = ordavine.Ordavine(1)
    assert repr(sim).startswith("<ordavine.Ordavine object at 0x")


def test_second_initialisation_returns_the_cached_module(run_python):
    # CPython calls the initialisation function again once the module is
    # removed from sys.modules, and must get the cached module back.  PyPy
    # does not call it again: it copies the loaded module's namespace into a
    # new module object, so only the contents can be compared there.
    result = run_python(
        f"""
        import importlib, sys
        import ordavine
        first = ordavine
        names = ["MeasurementResult", "Outcome", "Ordavine"]
        classes = [getattr(first, name) for name in names]
        del sys.modules["ordavine"]
        second = importlib.import_module("ordavine")
        if {not IS_PYPY}:
            assert second is first, (second, first)
        assert all(getattr(second, name) is cls for name, cls in zip(names, classes))
        assert second.__all__ == names, second.__all__
        third = importlib.reload(second)
        assert third is second
        assert all(getattr(third, name) is cls for name, cls in zip(names, classes))
        assert third.__all__ == names, third.__all__
        third.Ordavine(2).h(1)
        print("ok")
        """
    )
    assert_ran(result)
    assert result.stdout.strip() == "ok"


def test_library_exports_only_the_initialisation_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", ordavine.__file__],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    symbols = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert symbols == ["PyInit_ordavine"]

