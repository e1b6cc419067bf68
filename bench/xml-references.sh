#!/usr/bin/env bash
# XML loading with references: the document of bench/xml-load.sh (20,000 Customer rows each holding
# four Orders rows: 100,000 row elements) with every identifier written as a reference
# (ID="Orders:ID:12", CUSTOMER_ID="Customer:ID:7"; bench/generate_table_xml.py --references), which
# the loader resolves through the load's map of references, against the same document with plain
# identifiers, both loaded into the table store by the same host program in one hyperfine run (page
# cache warm).
# Target: the referencing document loads within 2x the time of the plain one (medians).
#
# Usage: bench/xml-references.sh
#   BENCH_XML_CUSTOMERS (20000) sizes both documents; BENCH_XML_ROUNDS (3) x BENCH_XML_RUNS (10) timed
#   runs per document; BENCH_KEEP_DATA=1 keeps the documents; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

CUSTOMERS=${BENCH_XML_CUSTOMERS:-20000}
PLAIN=$BENCH_DATA/xml-load/tables-$CUSTOMERS.xml
REFERENCES=$BENCH_DATA/xml-load/references-$CUSTOMERS.xml
LOADER=$BENCH_NATIVE_BUILD/bench/vxbench_xml_load

bench_build_native

mkdir -p "$(dirname "$PLAIN")"
if [ ! -f "$PLAIN" ]; then
  bench_log "generating the plain document ($CUSTOMERS customers)"
  python3 "$BENCH_ROOT/bench/generate_table_xml.py" "$PLAIN" --customers "$CUSTOMERS"
fi
if [ ! -f "$REFERENCES" ]; then
  bench_log "generating the referencing document ($CUSTOMERS customers)"
  python3 "$BENCH_ROOT/bench/generate_table_xml.py" "$REFERENCES" --customers "$CUSTOMERS" --references
fi

# The loader must build every row of both documents.
expected=$(printf 'Customer %d\nOrders %d' "$CUSTOMERS" $((CUSTOMERS * 4)))
for document in "$PLAIN" "$REFERENCES"; do
  rows=$("$LOADER" "$document")
  if [ "$rows" != "$expected" ]; then
    echo "the loader did not build every row of $document: $rows" >&2
    exit 1
  fi
done

mapfile -t results < <(bench_hyperfine xml-references "${BENCH_XML_ROUNDS:-3}" --warmup 1 \
  --runs "${BENCH_XML_RUNS:-10}" -n references "$LOADER '$REFERENCES'" -n plain "$LOADER '$PLAIN'")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "XML load with references, $((CUSTOMERS * 5)) row elements each:" \
  "$(stat -c %s "$REFERENCES") bytes referencing, $(stat -c %s "$PLAIN") bytes plain"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference plain --target references=2 "${results[@]}"

if [ "${BENCH_KEEP_DATA:-0}" != 1 ]; then
  rm -f "$REFERENCES" "$PLAIN"
  bench_log "deleted the generated documents (BENCH_KEEP_DATA=1 keeps them)"
fi
