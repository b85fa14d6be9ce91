"""Module and type surface: registration, signatures, docstrings, and Backend behaviour."""

import ast
import importlib.util
import inspect
import operator
import sys
import weakref
from pathlib import Path

import pytest

import tessarils
from tessarils import Backend, Tessaril

from tessarils_testing import Index


def test_module_attributes():
    assert tessarils.__all__ == ["Tessaril", "Backend"]
    public = [name for name in vars(tessarils) if not name.startswith("__")]
    assert public == ["Tessaril", "Backend"]


@pytest.mark.parametrize("cls", [Tessaril, Backend])
def test_type_identity(cls):
    assert (cls.__module__, cls.__qualname__) == ("builtins", cls.__name__)
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


def test_signatures():
    assert str(inspect.signature(Tessaril)) == "(backend, key=None, key_env=None)"
    assert Tessaril.encrypt.__text_signature__ == "($self, data, expires_at=None, purpose=None)"
    assert Tessaril.decrypt.__text_signature__ == "($self, token)"
    assert Tessaril.decrypt_for.__text_signature__ == "($self, token, purpose)"


STUB = Path(__file__).resolve().parents[1] / "tessarils.pyi"


# The docstrings are written twice, in the module's C++ constants and in
# the stub, which this ties together; the stub is where they are reviewed.
def test_stub_docstrings_are_the_module_docstrings():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    documented = {"tessarils": ast.get_docstring(tree)}
    for cls in (node for node in tree.body if isinstance(node, ast.ClassDef)):
        documented[cls.name] = ast.get_docstring(cls)
        for method in (node for node in cls.body if isinstance(node, ast.FunctionDef)):
            documented[f"{cls.name}.{method.name}"] = ast.get_docstring(method)
    runtime = {"tessarils": tessarils.__doc__, "Backend": Backend.__doc__, "Tessaril": Tessaril.__doc__}
    runtime |= {f"Tessaril.{name}": getattr(Tessaril, name).__doc__ for name in ("encrypt", "decrypt", "decrypt_for")}
    assert all(runtime.values())
    assert {name: documented.get(name) for name in runtime} == runtime


# Lines marked "error" must be the only ones a type checker rejects.
KEY_SOURCE_CALLS = """\
from tessarils import Backend, Tessaril
b = Backend.AES256_GCM
Tessaril(b, key=1)
Tessaril(b, 1)
Tessaril(b, key_env="K")
Tessaril(b, None, "K")
Tessaril(b, key=None, key_env="K")
Tessaril(b)  # error: neither
Tessaril(b, key=None)  # error: neither
Tessaril(b, key=1, key_env="K")  # error: both
Tessaril(b, 1, "K")  # error: both
"""


def test_stubs_require_exactly_one_key_source(tmp_path, monkeypatch):
    # The emulated and bare roots carry no type checker; the main run does.
    api = pytest.importorskip("mypy.api")

    monkeypatch.setenv("MYPYPATH", str(STUB.parent))
    source = tmp_path / "calls.py"
    source.write_text(KEY_SOURCE_CALLS)
    report, _, status = api.run(["--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
                                 "--config-file", "", str(source)])
    rejected = {int(line.split(":")[1]) for line in report.splitlines() if ": error:" in line}
    marked = {n for n, line in enumerate(KEY_SOURCE_CALLS.splitlines(), 1) if "# error" in line}
    assert (status, rejected) == (1, marked), report


@pytest.mark.parametrize("make", [lambda: Backend.AES256_GCM, lambda: Tessaril(Backend.AES256_GCM, key=1)])
def test_instances_are_closed(make):
    obj = make()
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


def test_hashing():
    with pytest.raises(TypeError):
        hash(Backend.AES256_GCM)
    with pytest.raises(TypeError):
        {Backend.XCHACHA20_POLY1305}
    box = Tessaril(Backend.AES256_GCM, key=1)
    assert hash(box) == hash(box) and {box: 1}[box] == 1


def test_backend_cannot_be_instantiated():
    with pytest.raises(TypeError, match="cannot create 'builtins.Backend' instances"):
        Backend()


def test_fresh_module_gets_the_same_types():
    found = importlib.util.find_spec("tessarils")
    for _ in range(2):
        module = importlib.util.module_from_spec(found)
        assert module is not sys.modules["tessarils"]
        found.loader.exec_module(module)
        assert module.Tessaril is Tessaril and module.Backend is Backend
        assert module.__all__ == ["Tessaril", "Backend"]
        assert module.Backend.AES256_GCM is Backend.AES256_GCM
    found.loader.exec_module(module)  # the same module object again
    assert module.__all__ == ["Tessaril", "Backend"]


def test_subinterpreters_with_their_own_allocator_are_refused():
    # They would put objects of their own into the process-wide, mutable
    # types and leave them dangling when they end.
    interpreters = pytest.importorskip("_interpreters")
    interpreter = interpreters.create(interpreters.new_config("isolated", gil="shared"))
    try:
        failure = interpreters.run_string(interpreter, f"import sys; sys.path[:] = {sys.path!r}; import tessarils")
    finally:
        interpreters.destroy(interpreter)
    assert failure is not None and failure.type.__name__ == "ImportError"
    assert failure.msg == "module tessarils does not support loading in subinterpreters"


@pytest.mark.parametrize(
    "member, name, tag",
    [(Backend.AES256_GCM, "AES256_GCM", 0), (Backend.XCHACHA20_POLY1305, "XCHACHA20_POLY1305", 1)],
)
def test_backend_members(member, name, tag):
    assert repr(member) == str(member) == f"Backend.{name}"
    assert int(member) == tag and type(int(member)) is int
    assert member is getattr(Backend, name)
    with pytest.raises(TypeError):
        operator.index(member)
    with pytest.raises(AttributeError):
        member.name


class BadIndex:
    def __index__(self):
        raise RuntimeError("cleared, not raised")


A, X = Backend.AES256_GCM, Backend.XCHACHA20_POLY1305


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (A, A, True), (A, X, False), (X, X, True),
        (A, 0, True), (0, A, True), (X, 1, True), (X, True, True), (A, False, True), (A, 1, False),
        (X, Index(1), True), (A, -1, False), (A, 2**64, False), (X, 1.0, False), (A, "0", False),
        (A, None, False), (A, BadIndex(), False),
    ],
)
def test_backend_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("other", [X, 1, 0])
def test_backend_has_no_ordering(op, other):
    with pytest.raises(TypeError):
        op(A, other)
