#!/usr/bin/env bash
# Tests the installed product: configures and builds a separate /usr build in build-install/,
# installs it into a staging root, builds the Debian package, then moves the build tree away and
# runs the staged tools and the package's tools (unpacked with dpkg-deb -x) on the installed
# samples and list, checks that they name no build or source path, verifies the systemd unit
# (when systemd-analyze is there), runs lintian on the package (when it is there) and builds and
# runs the example host against the staging tree. The regular build/ is not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
bdir=$src/build-install
work=$(mktemp -d)
trap '[ -n "${MOLVEX_KEEP_WORK:-}" ] || rm -rf "$work"; rm -rf "$bdir" "$bdir.away"' EXIT
fail() { echo "test_install: $*" >&2; exit 1; }

echo "== install: building $bdir (prefix /usr)"
rm -rf "$bdir" "$bdir.away"
# Debian's build flags (hardening, no build path in the debug information) when dpkg has them.
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
fi
cmake -S . -B "$bdir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DMOLVEX_BUILD_TESTS=OFF -DMOLVEX_BUILD_BENCH=OFF -DMOLVEX_WERROR=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$bdir" -j2 --target molvex-scan molvex-milter molvex-urldb molvex-info \
  molvex glyphkit rexkit molvex_host man_pages debian_changelog sample_url_list >/dev/null

stage=$work/stage
DESTDIR=$stage cmake --install "$bdir" >/dev/null
(cd "$bdir" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/molvex_*.deb)
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
dpkg-deb -f "$deb" Depends
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/molvex/molvex.conf "$work/control/conffiles" || fail "molvex.conf is no conffile"
root=$work/root
dpkg-deb -x "$deb" "$root"

if grep -rl -e "$src" "$root"; then fail "the package names the source or build tree"; fi

# From here on nothing of the build tree is reachable.
mv "$bdir" "$bdir.away"

for prefix in "$stage/usr" "$root/usr"; do
  echo "== installed tools in $prefix"
  for f in bin/molvex-scan bin/molvex-milter bin/molvex-urldb bin/molvex-info \
           lib/molvex/libmolvex.so lib/molvex/libglyphkit.so lib/molvex/librexkit.so \
           share/molvex/urlbl.dat share/molvex/lists/blacklist.txt \
           share/man/man1/molvex-scan.1.gz share/man/man8/molvex-milter.8.gz; do
    [ -e "$prefix/$f" ] || fail "$prefix/$f missing"
  done
  [ ! -e "$prefix/bin/molvex-corpus" ] || fail "molvex-corpus is installed"
  config=$("$prefix/bin/molvex-scan" --print-config)
  grep -qx "# layout: installed" <<<"$config" || fail "molvex-scan does not see its installed layout"
  grep -qx "# module: $prefix/lib/molvex/libmolvex.so" <<<"$config" || fail "module: $config"
  if grep -q -e "$src/" -e "$src\$" <<<"$config"; then fail "a source or build path is used"; fi
  "$prefix/bin/molvex-urldb" info "$prefix/share/molvex/urlbl.dat"
  "$prefix/bin/molvex-info" --level 0 | grep "^version:"
  # The samples: the known verdicts of three of them (the sender lists are the sample ones).
  out=$("$prefix/bin/molvex-scan" -q "$prefix/share/doc/molvex/examples")
  for expect in "02-gtube-text.eml: reject" "08-listed-url.eml: tag" "10-blacklisted-sender.eml: reject"; do
    grep -q "/$expect " <<<"$out" || fail "expected '$expect' in: $out"
  done
  "$prefix/bin/molvex-milter" --check-config --config "$root/etc/molvex/molvex.conf" \
    --foreground || fail "molvex-milter --check-config"
done
# The environment overrides the layout.
cp -r "$root/usr/share/molvex" "$work/data"
MOLVEX_DATA_DIR=$work/data "$root/usr/bin/molvex-scan" --print-config |
  grep -qx "# data folder: $work/data" || fail "MOLVEX_DATA_DIR is not used"

echo "== systemd unit"
unit=$root/lib/systemd/system/molvex-milter.service
if command -v systemd-analyze >/dev/null; then
  # The unit names /usr/bin/molvex-milter: verify a copy that points into the unpacked root.
  sed "s|/usr/bin/|$root/usr/bin/|; s|/etc/molvex/|$root/etc/molvex/|" "$unit" \
    > "$work/molvex-milter.service"
  systemd-analyze verify --man=no "$work/molvex-milter.service" 2>&1 | grep -v "^$" &&
    fail "systemd-analyze verify reports problems" || echo "systemd-analyze verify: clean"
else
  echo "systemd-analyze not available: unit not verified"
fi

echo "== lintian"
if command -v lintian >/dev/null; then
  lintian "$deb" ||
    fail "lintian reports problems"
  echo "lintian: clean"
else
  echo "lintian not available: package not checked"
fi

echo "== example host against the staging tree"
cmake -S examples/host -B "$work/example" -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/example-host" | grep "^Molvex "
pc=$(find "$stage" -name molvex-host.pc)
[ -n "$pc" ] || fail "molvex-host.pc is not installed"
# The same host built with the flags of molvex-host.pc.
g++ -std=c++17 -o "$work/example-pc" examples/host/example_host.cpp \
  -DEXAMPLE_MODULE="\"$stage/usr/lib/molvex/libmolvex.so\"" \
  $(pkg-config --with-path="$(dirname "$pc")" --cflags --libs molvex-host)
"$work/example-pc" | grep "^Molvex "
echo "test_install: all passed"
