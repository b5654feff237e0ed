#!/usr/bin/env bash
# Installs, with apt-get and only when missing, what building and testing the
# simulator needs. Run as a user who cannot install, it prints the one
# command that would do it and stops.
#
#   tools/bootstrap.sh        what `make run` and `make test` need
#   tools/bootstrap.sh fuzz   that, and clang with libFuzzer for `make fuzz`
set -u

# package name, then what shows that it is present (a command or a file)
needs=(
  "g++ cmd:g++"
  "cmake cmd:cmake"
  "make cmd:make"
  "libgtest-dev file:/usr/include/gtest/gtest.h"
  "libbenchmark-dev file:/usr/include/benchmark/benchmark.h"
  "nlohmann-json3-dev file:/usr/include/nlohmann/json.hpp"
  "gnuplot-nox cmd:gnuplot"
  "graphviz cmd:dot"
  "libxml2-utils cmd:xmllint"
  "time file:/usr/bin/time"
  "libtomlplusplus-dev file:/usr/include/toml++/toml.h"
)

case "${1:-}" in
  "") ;;
  fuzz)
    needs+=(
      "clang-14 cmd:clang++-14"
      "libclang-rt-14-dev glob:/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
    )
    ;;
  *)
    echo "usage: $0 [fuzz]" >&2
    exit 2
    ;;
esac

missing=()
for entry in "${needs[@]}"; do
  pkg=${entry%% *}
  check=${entry#* }
  case "$check" in
    cmd:*) command -v "${check#cmd:}" >/dev/null 2>&1 || missing+=("$pkg") ;;
    file:*) [ -e "${check#file:}" ] || missing+=("$pkg") ;;
    glob:*) compgen -G "${check#glob:}" >/dev/null || missing+=("$pkg") ;;
  esac
done

[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >/dev/null; then
    echo "bootstrap: ERROR: could not install ${missing[*]}" >&2
    exit 1
  fi
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  echo "bootstrap: installing ${missing[*]} with sudo"
  export DEBIAN_FRONTEND=noninteractive
  if ! { sudo -n apt-get update -qq && sudo -n apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >/dev/null; then
    echo "bootstrap: ERROR: could not install ${missing[*]}" >&2
    exit 1
  fi
else
  echo "bootstrap: ERROR: missing packages: ${missing[*]}" >&2
  echo "bootstrap: this user cannot install them; as root, run:" >&2
  echo "  $line" >&2
  exit 1
fi
