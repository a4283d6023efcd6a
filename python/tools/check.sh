#!/usr/bin/env bash
# Build, install and test the Python package from the repository's sources:
#   python/tools/check.sh REPOSITORY WORK_DIR PROBE_RANK PAIR_SEARCH PAIR_SIGNIF [PYTEST ARGS...]
# A virtual environment with Debian's packages (--system-site-packages) is
# made in WORK_DIR, the package installed into it by pip without build
# isolation (meson builds in WORK_DIR/meson, so a second run only rebuilds
# what changed), and its tests run against the programs' files. Exit 77
# (skipped) when a Debian package the build or the tests need is missing.
set -euo pipefail
repo=$(cd "$1" && pwd)
work=$2
export SYN_PROBE_RANK=$3 SYN_PAIR_SEARCH=$4 SYN_PAIR_SIGNIF=$5 SYN_EXAMPLE=$repo/examples/all_bcr_abl_500.tsv
shift 5
py=/usr/bin/python3
for mod in venv pip mesonpy pybind11 numpy pandas pytest; do
  if ! "$py" -c "import $mod" 2>/dev/null; then
    echo "Python module $mod not installed (see .ci/packages-test): skipped"
    exit 77
  fi
done
mkdir -p "$work"
[ -x "$work/venv/bin/python" ] || "$py" -m venv --system-site-packages "$work/venv"
echo "== pip install --no-build-isolation python/"
"$work/venv/bin/pip" install --no-build-isolation --no-index --force-reinstall --no-deps \
  --config-settings builddir="$work/meson" "$repo/python"
echo "== pytest"
cd "$work"
exec "$work/venv/bin/python" -m pytest -p no:cacheprovider -q "$repo/python/tests" "$@"
