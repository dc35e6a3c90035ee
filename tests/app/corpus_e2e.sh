#!/bin/bash
# Converts every drawing of the shared DXF corpus with the real binary and
# reads each written set back with pyshp and ogrinfo: both must see the
# same number of records.  A drawing may also be refused (exit status 1:
# unreadable, or nothing to convert), but never crash the program or leave
# a backup or temporary file.  Skipped (status 77) without the corpus.
set -u
BIN=$(realpath "${1:?usage: corpus_e2e.sh <cadport binary> <corpus dir>}")
CORPUS=${2:?corpus dir}
[ -d "$CORPUS/dxf" ] || { echo "no corpus at $CORPUS: skipped"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cadport_corpus.XXXXXX")
SOCK=unused
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/e2e_lib.sh"
PY=/usr/bin/python3

converted=0
for dxf in "$CORPUS"/dxf/*.[dD][xX][fF]; do
  name=$(basename "$dxf")
  base=${name%.*}
  out="$WORK/$base.shp"
  setsid -w "$BIN" -o "$dxf" "$out" > "$WORK/$base.log" 2>&1 < /dev/null
  rc=$?
  case $rc in
    0)
      converted=$((converted + 1))
      n_py=$($PY -c 'import shapefile,sys; print(len(shapefile.Reader(sys.argv[1])))' "$out" 2>&1)
      if command -v ogrinfo >/dev/null; then
        n_ogr=$(ogrinfo -ro -so -al "$out" 2>/dev/null | sed -n 's/^Feature Count: //p')
        expect_eq "$n_ogr" "$n_py" "$name: ogrinfo and pyshp record counts"
      fi
      case $n_py in '' | *[!0-9]*) fail "$name: pyshp cannot read the set: $n_py" ;; esac
      ;;
    1) ;;
    *) fail "$name: exit status $rc"; cat "$WORK/$base.log" ;;
  esac
  expect_no_leftovers "$WORK" "$name"
done
echo "$converted drawings converted"
[ "$converted" -gt 0 ] || fail "no drawing of the corpus converted"
finish
