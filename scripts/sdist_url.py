"""Finds the address of a source distribution on the package index that pip is
configured with, so that mirrors, proxies and offline indexes serve it too.

    python sdist_url.py <project> <file name> <sha256>

Prints three lines: the file's address, the CA bundle and the proxy that pip is
configured with (each empty when not set), for the download. The index is
PIP_INDEX_URL, else the index-url of pip's configuration (the download, install
and global sections, in that order), else https://pypi.org/simple. Its project
page is read as PEP 691 JSON or PEP 503 HTML; relative links are resolved
against the page's address. A hash that the index gives for the file must be
the expected one. Run with the interpreter whose pip is meant.
"""

import ast
import base64
import html.parser
import json
import os
import re
import ssl
import subprocess
import sys
import urllib.parse
import urllib.request

DEFAULT_INDEX = "https://pypi.org/simple"
ACCEPT = ("application/vnd.pypi.simple.v1+json, application/vnd.pypi.simple.v1+html;q=0.2, "
          "text/html;q=0.1")


def fail(message):
    sys.exit("[setup] " + message)


def pip_settings():
    """pip's configuration as `pip config list` gives it: {"section.key": value}."""
    try:
        listed = subprocess.run([sys.executable, "-m", "pip", "config", "list"], check=True,
                                capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        fail("cannot read pip's configuration: %s" % e)
    settings = {}
    for line in listed.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            try:
                settings[key] = ast.literal_eval(value)
            except (ValueError, SyntaxError):
                settings[key] = value
    return settings


def setting(settings, name):
    """The value pip would use: the environment, then the command sections."""
    env = os.environ.get("PIP_" + name.upper().replace("-", "_"))
    if env:
        return env
    for section in (":env:", "download", "install", "global"):
        value = settings.get(section + "." + name)
        if value:
            return value
    return ""


def without_credentials(url):
    """The address without user and password, and the Authorization header they make."""
    parts = urllib.parse.urlsplit(url)
    if parts.username is None:
        return url, None
    netloc = parts.hostname or ""
    if parts.port:
        netloc += ":%d" % parts.port
    user = urllib.parse.unquote(parts.username)
    password = urllib.parse.unquote(parts.password or "")
    token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
    return urllib.parse.urlunsplit(parts._replace(netloc=netloc)), "Basic " + token


def read_page(url, authorization, cafile, proxy):
    """The page's final address, content type and text; a local folder gives its index.html."""
    if url.startswith("file:"):
        path = urllib.request.url2pathname(urllib.parse.urlsplit(url).path)
        if os.path.isdir(path):
            url = urllib.parse.urljoin(url if url.endswith("/") else url + "/", "index.html")
    handlers = [urllib.request.HTTPSHandler(context=ssl.create_default_context(
        cafile=cafile or None))]
    if proxy:
        handlers.append(urllib.request.ProxyHandler({"http": proxy, "https": proxy}))
    request = urllib.request.Request(url, headers={"Accept": ACCEPT})
    if authorization:
        request.add_header("Authorization", authorization)
    try:
        with urllib.request.build_opener(*handlers).open(request, timeout=60) as response:
            kind = response.headers.get_content_type() or ""
            return response.geturl(), kind, response.read().decode("utf-8", "replace")
    except (OSError, ValueError) as e:
        fail("cannot read the package index page %s: %s" % (url, e))


class Links(html.parser.HTMLParser):
    """The anchors of a PEP 503 page: (text, href)."""

    def __init__(self):
        super().__init__()
        self.links = []
        self._href = None
        self._text = ""

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            self._href = dict(attrs).get("href")
            self._text = ""

    def handle_data(self, data):
        if self._href is not None:
            self._text += data

    def handle_endtag(self, tag):
        if tag == "a" and self._href is not None:
            self.links.append((self._text.strip(), self._href))
            self._href = None


def files_of(page_url, kind, text):
    """(file name, absolute address without fragment, sha256 or None) of every file."""
    res = []
    if kind == "application/vnd.pypi.simple.v1+json":
        for f in json.loads(text).get("files", []):
            res.append((f["filename"], f["url"], f.get("hashes", {}).get("sha256")))
    else:
        parser = Links()
        parser.feed(text)
        for name, href in parser.links:
            address, _, fragment = href.partition("#")
            digest = fragment[len("sha256="):] if fragment.startswith("sha256=") else None
            path_name = urllib.parse.unquote(address.rstrip("/").rsplit("/", 1)[-1])
            res.append((name or path_name, address, digest))
    return [(name, urllib.parse.urljoin(page_url, address).partition("#")[0], digest)
            for name, address, digest in res]


def main():
    project, file_name, sha256 = sys.argv[1:4]
    settings = pip_settings()
    configured = setting(settings, "index-url") or DEFAULT_INDEX
    cafile = setting(settings, "cert")
    proxy = setting(settings, "proxy")
    index, authorization = without_credentials(configured)
    # PEP 503: the project's page is its normalized name under the index.
    page = index.rstrip("/") + "/" + re.sub(r"[-_.]+", "-", project).lower() + "/"
    page_url, kind, text = read_page(page, authorization, cafile, proxy)
    found = [f for f in files_of(page_url, kind, text) if f[0].lower() == file_name.lower()]
    if not found:
        fail("the package index %s has no file %s" % (index, file_name))
    _, url, digest = found[0]
    if digest is not None and digest.lower() != sha256.lower():
        fail("the package index %s gives %s the SHA-256 %s, not the pinned %s"
             % (index, file_name, digest, sha256))
    # The index's credentials go with files on the index's own host, as pip sends them.
    parts = urllib.parse.urlsplit(url)
    if authorization and parts.netloc == urllib.parse.urlsplit(index).netloc:
        credentials = urllib.parse.urlsplit(configured).netloc.rpartition("@")[0]
        url = urllib.parse.urlunsplit(parts._replace(netloc=credentials + "@" + parts.netloc))
    print(url)
    print(cafile)
    print(proxy)


if __name__ == "__main__":
    main()
