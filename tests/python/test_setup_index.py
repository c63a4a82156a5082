"""The set-up finds the SEAL source distribution on the package index that pip
is configured with (scripts/sdist_url.py): local indexes stand for mirrors,
proxies and offline indexes."""

import functools
import http.server
import os
import pathlib
import subprocess
import sys
import threading

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "sdist_url.py"
FILE = "Pyfhel-3.3.2.tar.gz"
SHA = "6a2c1e54d5b5535ca51091d9b483ce05a8487d0ae845589afcfa4cd04d93c3f6"


@pytest.fixture
def index(tmp_path):
    """A PEP 503 index whose project page links the files relatively."""
    page = tmp_path / "simple" / "pyfhel"
    page.mkdir(parents=True)
    (tmp_path / "files").mkdir()
    (page / "index.html").write_text(
        '<html><body>\n'
        '<a href="../../files/Pyfhel-3.3.1.tar.gz">Pyfhel-3.3.1.tar.gz</a><br/>\n'
        '<a href="../../files/Pyfhel-3.3.2.tar.gz#sha256=%s" data-requires-python="&gt;=3.7">'
        'Pyfhel-3.3.2.tar.gz</a><br/>\n</body></html>\n' % SHA)
    return tmp_path


@pytest.fixture
def served(index):
    """The index served over HTTP on the loopback interface."""
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(index))
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield "http://127.0.0.1:%d" % server.server_address[1]
    server.shutdown()
    server.server_close()


def find(tmp_path, index_url=None, config_index=None, sha=SHA):
    """Runs the script with pip configured only by the given index settings."""
    config = tmp_path / "pip.conf"
    config.write_text("[global]\nindex-url = %s\n" % config_index if config_index else "")
    env = {k: v for k, v in os.environ.items() if not k.startswith("PIP_")}
    env["PIP_CONFIG_FILE"] = str(config)
    if index_url:
        env["PIP_INDEX_URL"] = index_url
    return subprocess.run([sys.executable, str(SCRIPT), "Pyfhel", FILE, sha], env=env,
                          capture_output=True, text=True, timeout=120)


def test_relative_link_of_an_http_index_in_the_environment(tmp_path, served):
    result = find(tmp_path, index_url=served + "/simple")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == served + "/files/" + FILE


def test_index_of_pips_configuration(tmp_path, served):
    result = find(tmp_path, config_index=served + "/simple/")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == served + "/files/" + FILE


def test_environment_comes_before_the_configuration(tmp_path, index, served):
    result = find(tmp_path, index_url=index.as_uri() + "/simple", config_index=served + "/simple")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == index.as_uri() + "/files/" + FILE


def test_credentials_of_the_index_go_with_its_files_but_not_into_the_page_address(
        tmp_path, served):
    user_index = served.replace("http://", "http://me:s%40cret@") + "/simple"
    result = find(tmp_path, index_url=user_index)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == served.replace(
        "http://", "http://me:s%40cret@") + "/files/" + FILE


@pytest.mark.parametrize("sha, page, message", [
    ("0" * 64, None, "gives Pyfhel-3.3.2.tar.gz the SHA-256 %s, not the pinned %s" % (SHA, "0" * 64)),
    (SHA, '<a href="x.tar.gz">Pyfhel-3.3.1.tar.gz</a>', "has no file Pyfhel-3.3.2.tar.gz"),
])
def test_refusals(tmp_path, index, sha, page, message):
    if page is not None:
        (index / "simple" / "pyfhel" / "index.html").write_text(page)
    result = find(tmp_path, index_url=index.as_uri() + "/simple", sha=sha)
    assert result.returncode == 1
    assert result.stderr.startswith("[setup] the package index ")
    assert message in result.stderr
    assert result.stdout == ""
