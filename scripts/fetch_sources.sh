#!/usr/bin/env bash
# Fetches the Debian source packages that are compiled into the build: JsonCpp (into the module)
# and PCRE2 (into the Windows build's rexkit.dll), through a private apt source list derived from
# the machine's own Debian sources; the system's apt configuration is left as it is. Sources land
# in build-deps/ (not committed), each unpacked from the upstream tarball behind a stable link
# (build-deps/jsoncpp, build-deps/pcre2). Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
deps="$PWD/build-deps"

# source package, link name, a file the unpacked tree must hold
wanted=(
  "libjsoncpp jsoncpp src/lib_json/json_reader.cpp"
  "pcre2 pcre2 src/pcre2_compile.c"
)
missing=()
for entry in "${wanted[@]}"; do
  read -r package link marker <<<"$entry"
  [ -f "$deps/$link/$marker" ] || missing+=("$entry")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

state="$deps/apt"
mkdir -p "$state/lists/partial" "$state/sources"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sed 's/^Types:.*$/Types: deb-src/' "$f" > "$state/sources/$(basename "$f")"
done
if [ -f /etc/apt/sources.list ]; then
  grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$state/sources.list" || true
else
  : > "$state/sources.list"
fi
apt_opts=(-o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=$state/sources"
          -o "Dir::State::Lists=$state/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" -qq update
for entry in "${missing[@]}"; do
  read -r package link marker <<<"$entry"
  # Newest version first; a mirror may lack the files of one version (a security update), so
  # the older ones are tried in turn.
  fetched=false
  for version in $(apt-cache "${apt_opts[@]}" showsrc "$package" | awk '/^Version:/{print $2}' |
                   sort -r -V); do
    if (cd "$deps" && apt-get "${apt_opts[@]}" -qq source --download-only "$package=$version" \
          2>/dev/null); then
      fetched=true
      break
    fi
  done
  $fetched || { echo "fetch_sources: cannot fetch the $package sources" >&2; exit 1; }
  orig=$(ls "$deps/${package}"_*.orig.tar.* | awk 'NR==1')
  top=$(tar -tf "$orig" | awk -F/ 'NR==1{print $1}')
  tar -xf "$orig" -C "$deps"
  ln -sfn "$top" "$deps/$link"
  echo "fetch_sources: $package sources in $deps/$link"
done
