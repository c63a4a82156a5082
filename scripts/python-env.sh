# Sourced by the scripts after ROOT is set. Sets PYTHON to the interpreter of
# the project's virtual environment, so that set-up never installs into,
# upgrades or downgrades the user's own interpreter.
#   PYTHON         the interpreter the environment is created from (python3)
#   QUORVANE_VENV  the environment's folder (.venv in the repository); an
#                  existing environment is reused, and the project's
#                  requirements and module are installed into it
QUORVANE_BASE_PYTHON="${QUORVANE_BASE_PYTHON:-${PYTHON:-python3}}"
QUORVANE_VENV="${QUORVANE_VENV:-$ROOT/.venv}"
export QUORVANE_BASE_PYTHON QUORVANE_VENV
PYTHON="$QUORVANE_VENV/bin/python"
