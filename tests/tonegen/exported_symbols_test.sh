#!/bin/sh
# The shared library's interface is what tonegen/exported_symbols.txt lists, no more and no less:
# a symbol that comes or goes (a new public member, a change of signature, a helper left
# visible) fails here until the list, and with it the library's interface, is changed on purpose.
#
#   exported_symbols_test.sh LIBRARY LIST
set -eu
library=$1 list=$2
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
# Type and demangled name with its version; the version node itself (type A) is no symbol.
nm -D --defined-only --demangle "$library" | sed -E 's/^[0-9a-f]+ //' | grep -v '^A ' |
  LC_ALL=C sort >"$actual"
if ! diff -u "$list" "$actual"; then
  echo "FAIL: the symbols $library exports differ from $list (- gone, + new)"
  exit 1
fi
echo "$(wc -l <"$actual") symbols, as listed"
