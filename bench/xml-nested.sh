#!/usr/bin/env bash
# XML loading of nested self-referencing rows: chains of Node elements, each nested in the one
# before it 255 deep and none with an ID attribute (bench/generate_table_xml.py --nested), loaded into
# a table Node(ID, PARENT_ID -> Node.ID) by the host program, against `xmllint --noout` on the same
# file, and the same load of a document of half as many chains, in one hyperfine run (page cache warm).
# Every element's PARENT_ID is looked for through all its ancestors and along the path below it.
# Targets: within 10x xmllint's time on the full document; the full document (twice the chains)
# within 2.2x the time of the half one (linear in the document).
#
# Usage: bench/xml-nested.sh
#   BENCH_XML_CHAINS (200) chains in the full document; BENCH_XML_ROUNDS (3) x BENCH_XML_RUNS (10)
#   timed runs per command; BENCH_KEEP_DATA=1 keeps the documents; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

CHAINS=${BENCH_XML_CHAINS:-200}
HALF=$((CHAINS / 2))
FULL_DOCUMENT=$BENCH_DATA/xml-load/nested-$CHAINS.xml
HALF_DOCUMENT=$BENCH_DATA/xml-load/nested-$HALF.xml
LOADER=$BENCH_NATIVE_BUILD/bench/vxbench_xml_load

bench_build_native
command -v xmllint >/dev/null || { echo "xmllint is not installed (Debian package libxml2-utils)" >&2; exit 1; }

mkdir -p "$(dirname "$FULL_DOCUMENT")"
for chains in "$CHAINS" "$HALF"; do
  document=$BENCH_DATA/xml-load/nested-$chains.xml
  [ -f "$document" ] || python3 "$BENCH_ROOT/bench/generate_table_xml.py" "$document" --nested "$chains"
  # Both must accept the document, and the loader must build every row.
  xmllint --noout "$document"
  rows=$("$LOADER" --nested "$document")
  if [ "$rows" != "Node $((chains * 255))" ]; then
    echo "the loader did not build every row of $document: $rows" >&2
    exit 1
  fi
done

mapfile -t results < <(bench_hyperfine xml-nested "${BENCH_XML_ROUNDS:-3}" --warmup 1 --runs "${BENCH_XML_RUNS:-10}" \
  -n nested "$LOADER --nested '$FULL_DOCUMENT'" -n half "$LOADER --nested '$HALF_DOCUMENT'" \
  -n xmllint "xmllint --noout '$FULL_DOCUMENT'")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "XML load of nested rows: $CHAINS chains of 255, $(stat -c %s "$FULL_DOCUMENT") bytes;" \
  "half: $HALF chains, $(stat -c %s "$HALF_DOCUMENT") bytes"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference xmllint --target nested=10 "${results[@]}"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference half --target nested=2.2 "${results[@]}"

if [ "${BENCH_KEEP_DATA:-0}" != 1 ]; then
  rm -f "$FULL_DOCUMENT" "$HALF_DOCUMENT"
  bench_log "deleted the generated documents (BENCH_KEEP_DATA=1 keeps them)"
fi
