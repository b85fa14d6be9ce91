"""What the extension takes from the process around it and offers to it:
OpenSSL's configuration changes nothing, and its only symbol is the init
function."""

import shutil
import subprocess

import pytest

import tessarils
from tessarils import Tessaril
from tessarils_testing import BACKENDS, run_python

KEY = 0x0123456789ABCDEF_FEDCBA9876543210

FIPS_ONLY = """openssl_conf = openssl_init
[openssl_init]
alg_section = algorithms
[algorithms]
default_properties = fips=yes
"""

# Activates only the null provider: the process-wide context has no algorithms.
NULL_PROVIDER = """openssl_conf = openssl_init
[openssl_init]
providers = providers
[providers]
null = null
[null]
activate = 1
"""

# Seals short and long payloads (both code paths of each backend), after
# another user of OpenSSL has loaded the configuration when asked to.
CHILD = """
    import json, ssl
    if {ssl_first}:
        try:
            ssl.create_default_context()
        except ssl.SSLError:
            pass
    from tessarils import Backend, Tessaril
    boxes = [Tessaril(backend, key={key}) for backend in vars(Backend).values() if isinstance(backend, Backend)]
    print(json.dumps([box.encrypt(b"x" * size) for box in boxes for size in (1, 1000)]))
"""


@pytest.mark.parametrize("config", [FIPS_ONLY, NULL_PROVIDER, None], ids=["fips-only", "no-algorithms", "missing"])
@pytest.mark.parametrize("ssl_first", [False, True], ids=["tessarils-first", "ssl-first"])
def test_openssl_configuration_changes_nothing(tmp_path, config, ssl_first):
    path = tmp_path / "openssl.cnf"
    if config is not None:
        path.write_text(config)
    tokens = run_python(CHILD.format(ssl_first=ssl_first, key=KEY), env={"OPENSSL_CONF": str(path)})
    assert len(tokens) == 2 * len(BACKENDS)
    # Opened here, without the configuration: the same keys and ciphers.
    for index, token in enumerate(tokens):
        assert Tessaril(BACKENDS[index // 2], key=KEY).decrypt(token) == b"x" * (1, 1000)[index % 2]


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_init_function_is_the_only_export():
    listing = subprocess.run(["nm", "-D", "--defined-only", tessarils.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in listing.stdout.splitlines()] == ["PyInit_tessarils"]
