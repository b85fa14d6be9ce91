"""The reading of the sources that decides which code coverage and mutation
testing leave out on a processor: every way a function is built for other
instructions is found, and nothing that runs is left out."""

import importlib.machinery
import importlib.util
import sys
from pathlib import Path
from typing import Any

import pytest

SCRIPTS = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SCRIPTS))

import processor_reach as reach  # noqa: E402

WIDE = '#define WIDE __attribute__((target("avx2,avx512f")))\n'
BOTH = frozenset({"avx2", "avx512f"})


def source(text: str, path: str = "kernels.cc") -> reach.SourceFile:
    return reach.SourceFile(path, text)


def functions(text: str) -> list[tuple[str, int, int, frozenset[str]]]:
    file = source(text)
    return [(d.name, d.first_line, d.last_line, d.features)
            for d in reach.definitions(file, reach.target_macros([file])) if d.kind == "function"]


@pytest.mark.parametrize("text, expected", [
    (WIDE + "WIDE int f(int x) { return x; }\n", ("f", 2, 2, BOTH)),
    (WIDE + "[[gnu::always_inline]] WIDE inline int\nf(int x,\n  int y) noexcept\n{\n    return x + y;\n}\n",
     ("f", 2, 7, BOTH)),
    ('__attribute__((target("avx512f", "avx512bw"))) void f() {}\n', ("f", 1, 1, {"avx512f", "avx512bw"})),
    ('[[gnu::target("sse4.2")]] bool f(const char* s)\n{\n    return s[0] == \'{\';\n}\n', ("f", 1, 4, {"sse4.2"})),
    (WIDE + "template <class T, int N = sizeof(T)>\nWIDE T f(T x)\n{\n    return x;\n}\n", ("f", 2, 6, BOTH)),
    (WIDE + "struct S {\n  public:\n    WIDE int f() const { return 1; }\n};\n", ("f", 4, 4, BOTH)),
    (WIDE + "namespace a::b {\nnamespace {\n/* { */ WIDE void f() { \"}\"; }\n}\n}\n", ("f", 4, 4, BOTH)),
], ids=["macro", "macro after an attribute", "attribute", "standard attribute", "template", "member",
        "namespaces"])
def test_functions_built_for_other_instructions_are_found(
        text: str, expected: tuple[str, int, int, frozenset[str]]) -> None:
    assert [f for f in functions(text) if f[3]] == [expected]


@pytest.mark.parametrize("text", [
    WIDE + "WIDE int f(int x);\n",
    WIDE + "// WIDE int f() { return 0; }\n/* WIDE int g() {} */\n",
    WIDE + 'const char* s = "WIDE int f() { return 0; }";\n',
    WIDE + 'const char* s = R"x(WIDE int f() { return "0"; })x";\n',
    "int f() { return 0; }\n",
])
def test_declarations_comments_strings_and_plain_functions_are_not_targeted(text: str) -> None:
    assert not [f for f in functions(text) if f[3]]


@pytest.mark.parametrize("feature, flag", [("avx2", "avx2"), ("avx512bw", "avx512bw"), ("sse4.2", "sse4_2"),
                                           ("pclmul", "pclmulqdq"), ("sse3", "pni")])
def test_features_are_checked_against_their_cpuinfo_flags(feature: str, flag: str) -> None:
    assert reach.cpuinfo_flag(feature) == flag


@pytest.mark.parametrize("arguments", ['"avx10.1"', '"arch=x86-64-v4"'])
def test_unknown_features_are_refused_rather_than_guessed(arguments: str) -> None:
    with pytest.raises(reach.UnknownFeature):
        reach.target_features(arguments)


def test_flags_are_those_of_the_first_processor() -> None:
    cpuinfo = "processor\t: 0\nflags\t\t: fpu sse2 avx2\n\nprocessor\t: 1\nflags\t\t: fpu\n"
    assert reach.processor_flags(cpuinfo) == {"fpu", "sse2", "avx2"}
    assert reach.processor_flags("processor\t: 0\nFeatures\t: fp asimd\n") == frozenset()


USERS = WIDE + """\
#define CALL through_macro()
namespace {
constexpr int ONLY_WIDE = 3;
constexpr int SHARED = 4;
inline int helper(int x) { return x + ONLY_WIDE; }
inline int pointed_to(int x) { return x; }
struct WideState { int helper; };
int unused() { return 0; }
int through_macro() { return 1; }
WIDE int wide(int x) { WideState s{x}; return helper(x) + pointed_to(x) + SHARED + CALL; }
int narrow(WideState* s) { return s->helper + SHARED; }
int (*const pointer)(int) = &pointed_to;
}
"""


@pytest.mark.parametrize("flags, expected", [
    ({"avx2"}, {"wide", "helper", "ONLY_WIDE"}),
    ({"avx2", "avx512f"}, set()),
])
def test_what_only_unrunnable_code_uses_is_left_out_with_it(flags: set[str], expected: set[str]) -> None:
    # WideState is named by narrow too; helper's name in narrow is a member's.
    found = reach.unrunnable([source(USERS)], frozenset(flags))
    assert {u.definition.name for u in found} == expected


def test_uses_in_other_files_keep_a_helper() -> None:
    header = source("inline int helper(int x) { return x; }\n", "helper.h")
    kernel = source(WIDE + "WIDE int wide(int x) { return helper(x); }\n")
    user = source("int narrow(int x) { return helper(x); }\n", "narrow.cc")
    assert {u.definition.name for u in reach.unrunnable([header, kernel], frozenset())} == {"wide", "helper"}
    assert {u.definition.name for u in reach.unrunnable([header, kernel, user], frozenset())} == {"wide"}


@pytest.mark.parametrize("flags, left_out", [
    ({"avx2"}, ("_avx512",)),
    (set(), ("_avx2", "_avx512")),
    ({"avx2", "avx512f", "avx512bw"}, ()),
], ids=["avx2 only", "neither", "both"])
def test_the_repository_kernels_follow_their_attributes(flags: set[str], left_out: tuple[str, ...]) -> None:
    # The kernels are named for their instructions: those a processor
    # lacks are left out, and only those.
    files = reach.source_files(SCRIPTS.parent)
    found = reach.unrunnable(files, frozenset(flags))
    kernels = {d.name for f in files for d in reach.definitions(f, {})
               if d.kind == "function" and d.name.endswith(("_avx2", "_avx512")) and not d.name.startswith("runs_")}
    assert kernels, "no AVX kernels found in the sources"
    names = {u.definition.name for u in found}
    assert {k for k in kernels if k.endswith(left_out)} == kernels & names


def load_coverage_runnable() -> object:
    loader = importlib.machinery.SourceFileLoader("coverage_runnable", str(SCRIPTS / "coverage-runnable"))
    spec = importlib.util.spec_from_loader(loader.name, loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def test_coverage_marks_lines_branches_and_functions_and_reports_lines_that_ran() -> None:
    report: dict[str, Any] = {"files": [{"file": "kernels.cc",
                                         "lines": [{"line_number": 1, "count": 0, "branches": [{"count": 0}]},
                                                   {"line_number": 2, "count": 5, "branches": []},
                                                   {"line_number": 3, "count": 0, "branches": []}],
                                         "functions": [{"lineno": 1}, {"lineno": 3}]}]}
    marked, ran = load_coverage_runnable().exclude(report, {"kernels.cc": {1, 2}})  # type: ignore[attr-defined]
    lines = report["files"][0]["lines"]
    assert [line.get("gcovr/excluded", False) for line in lines] == [True, True, False]
    assert lines[0]["branches"][0]["gcovr/excluded"] is True
    assert [f.get("gcovr/excluded", False) for f in report["files"][0]["functions"]] == [True, False]
    assert marked == {("kernels.cc", 1): 0, ("kernels.cc", 2): 5}
    assert ran == ["kernels.cc:2 (ran 5 times)"]
