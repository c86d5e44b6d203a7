#!/usr/bin/env bash
# Fetches the Debian source packages that are compiled into the module (JsonCpp), through a
# private apt source list derived from the machine's own Debian sources; the system's apt
# configuration is left as it is. Sources land in build-deps/ (not committed). Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
deps="$PWD/build-deps"
jsoncpp_dir="$deps/jsoncpp"
[ -f "$jsoncpp_dir/src/lib_json/json_reader.cpp" ] && exit 0

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
(cd "$deps" && apt-get "${apt_opts[@]}" -qq source --download-only libjsoncpp)
orig=$(ls "$deps"/libjsoncpp_*.orig.tar.* | awk 'NR==1')
top=$(tar -tf "$orig" | awk -F/ 'NR==1{print $1}')
tar -xf "$orig" -C "$deps"
ln -sfn "$top" "$jsoncpp_dir"
echo "fetch_sources: JsonCpp sources in $jsoncpp_dir"
