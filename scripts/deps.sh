#!/usr/bin/env bash
# Installs the Debian packages Tarnwick needs, skipping those already present.
#   deps.sh        everything (same as "test")
#   deps.sh run    only what building and running the program needs
#   deps.sh test   everything: build, tests, sanitizers, benchmarks, GUI tools
set -euo pipefail

run_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libre2-dev libgl-dev libxcb1-dev qt6-wayland)
test_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libre2-dev libgtest-dev libgmock-dev googletest
               libbenchmark-dev libx11-dev xvfb xauth xdotool xclip imagemagick clang libclang-rt-14-dev
               binutils libgl-dev libxcb1-dev qt6-wayland desktop-file-utils appstream groff-base
               python3)

mode="${1:-test}"
case "$mode" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)"
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

if [[ "$(id -u)" -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "deps.sh: missing packages (${missing[*]}) and not root, and sudo is not available" >&2
  exit 1
fi

echo "deps.sh: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
