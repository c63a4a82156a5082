# Sourced by the set-up and build scripts: picks the interpreter and lets pip
# install into a Python that Debian marks as externally managed, which is the
# interpreter the module is meant for.
PYTHON="${PYTHON:-python3}"
if command -v "$PYTHON" >/dev/null 2>&1 &&
   "$PYTHON" -c 'import os, sysconfig; raise SystemExit(not os.path.exists(os.path.join(sysconfig.get_path("stdlib"), "EXTERNALLY-MANAGED")))'; then
  export PIP_BREAK_SYSTEM_PACKAGES=1
fi
