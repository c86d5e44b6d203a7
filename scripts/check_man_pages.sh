#!/bin/bash
# Checks that each tool's man page documents exactly the options its --help lists: the options
# named in the page's OPTIONS section against every option named in the --help text.
#   scripts/check_man_pages.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: check_man_pages.sh BUILD_DIR}
docs=$(cd "$(dirname "$0")/../docs" && pwd)
options() { grep -oP '(?<![\w-])--?[a-zA-Z][a-zA-Z0-9-]*' | sort -u; }
status=0
for page in "$docs"/molvex-scan.1 "$docs"/molvex-urldb.1 "$docs"/molvex-info.1 "$docs"/molvex-milter.8; do
    tool=$(basename "${page%.*}")
    from_help=$("$build/$tool" --help | options)
    from_page=$(sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' "$page" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' |
        grep -v '^\.SH' | options)
    if [ -z "$from_page" ] || [ "$from_help" != "$from_page" ]; then
        echo "$page and $tool --help differ (< --help, > man page):"
        diff <(echo "$from_help") <(echo "$from_page") || true
        status=1
    fi
done
exit $status
