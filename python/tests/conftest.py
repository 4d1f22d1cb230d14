"""What the package's tests share: the real mail servers, read from the env file that
tests/servers/start.sh writes (NORVANE_TRANSPORT_ENV when CTest's fixture already started
them; otherwise they are started here for the session and stopped after it)."""

import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def read_env(path):
    pairs = (line.split("=", 1) for line in pathlib.Path(path).read_text().splitlines())
    return {k: v for k, v in (p for p in pairs if len(p) == 2)}


@pytest.fixture(scope="session")
def servers(tmp_path_factory):
    given = os.environ.get("NORVANE_TRANSPORT_ENV")
    if given:
        yield read_env(given)
        return
    envfile = tmp_path_factory.mktemp("servers") / "env"
    scripts = SOURCE / "tests/servers"
    # The servers are not ours to instrument: no sanitizer runtime is preloaded into them.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(["bash", scripts / "start.sh", envfile], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    try:
        yield read_env(envfile)
    finally:
        subprocess.run(["bash", scripts / "stop.sh", envfile], env=env)
