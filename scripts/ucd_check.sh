#!/usr/bin/env bash
# Fetches the UCD 15.1 package from the npm registry (once, into the build folder), checks that
# the committed generated tables (the lower-case table and glyphkit's category and script tables)
# are what the generators make of it, and writes the full mapping dump that the exhaustive
# lower-case test reads. Prints the dump's path; prints nothing and
# succeeds when node or npm is not available (the test then skips).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/ucd
command -v node >/dev/null && command -v npm >/dev/null || exit 0
if [ ! -d "$dir/node_modules/@unicode/unicode-15.1.0" ]; then
  mkdir -p "$dir"
  (cd "$dir" && npm install --silent --no-audit --no-fund --prefix . @unicode/unicode-15.1.0 >/dev/null 2>&1) || exit 0
fi
node tools/gen_unicode_lower.js --ucd "$dir/node_modules" --out "$dir/unicode_lower_table.cpp" \
  --dump "$dir/lower_dump.txt" >/dev/null
node tools/gen_glyphkit_tables.js --ucd "$dir/node_modules" --out "$dir/glyphkit_tables.cpp" >/dev/null
for table in common/unicode_lower_table.cpp companions/glyphkit/glyphkit_tables.cpp; do
  if ! cmp -s "$dir/$(basename "$table")" "$table"; then
    echo "ucd_check: $table differs from the generator's output" >&2
    exit 1
  fi
done
echo "$PWD/$dir/lower_dump.txt"
