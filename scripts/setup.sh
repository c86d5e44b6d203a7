#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing. Safe to run again.
#   scripts/setup.sh --scan   what building the module and the tools takes (scripts/run.sh)
#   scripts/setup.sh [--all]  that and everything the tests take: benchmarks, the milter's Postfix
#                             test, clang for the fuzzers, the Windows toolchain and Wine, the
#                             package checks (scripts/test.sh)
set -euo pipefail

mode=${1:---all}
case "$mode" in
  --scan | --all) ;;
  *) echo "usage: scripts/setup.sh [--scan | --all]" >&2; exit 2 ;;
esac

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libjsoncpp-dev
  libpcre2-dev libssl-dev
  libgmime-3.0-dev libxml2-dev libicu-dev
  libmilter-dev
)
if [ "$mode" = --all ]; then
  packages+=(
    libbenchmark-dev libmd-dev
    # the public suffix list that host/public_suffix_table.cpp is made from (its staleness check)
    publicsuffix
    # the end-to-end test of molvex-milter with a private Postfix instance (and smtp-sink/-source)
    postfix
    binutils clang lld libclang-rt-14-dev
    # the Windows build: cross compiler, Wine to run its tests, GoogleTest's sources
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest
    # the package test (scripts/test_install.sh): the Debian package check and systemd-analyze
    lintian systemd
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # Postfix's package asks how the system's mail is set up: leave it unconfigured (nothing starts).
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo_cmd debconf-set-selections
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
scripts/fetch_sources.sh
