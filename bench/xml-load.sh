#!/usr/bin/env bash
# XML loading: a 10 MB document of defined tables (20,000 Customer rows each holding four Orders
# rows: 100,000 row elements, bench/generate_table_xml.py) loaded into the table store by a host
# program (parse, build every row with its keys, free the document), against
# `xmllint --noout` on the same file (parse and free), in one hyperfine run (page cache warm), and
# the peak resident memory of each (ru_maxrss of the child, from wait4).
# Targets: median time within 1.15x xmllint's (and, the earlier floor, throughput at least 0.5x),
# peak memory at most 1.1x xmllint's.
#
# Usage: bench/xml-load.sh
#   BENCH_XML_CUSTOMERS (20000) sizes the document; BENCH_XML_ROUNDS (3) x BENCH_XML_RUNS (10) timed
#   runs per command; BENCH_KEEP_DATA=1 keeps the document; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

CUSTOMERS=${BENCH_XML_CUSTOMERS:-20000}
DOCUMENT=$BENCH_DATA/xml-load/tables-$CUSTOMERS.xml
LOADER=$BENCH_NATIVE_BUILD/bench/vxbench_xml_load

if [ "${BENCH_SKIP_BUILD:-0}" != 1 ]; then
  bench_log "building vxbench_xml_load in $BENCH_NATIVE_BUILD"
  (cd "$BENCH_ROOT" &&
    { [ -f "$BENCH_NATIVE_BUILD/build.ninja" ] ||
      cmake --preset native-release -B "$BENCH_NATIVE_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_NATIVE_BUILD" -j2 --target vxbench_xml_load >/dev/null)
fi
command -v xmllint >/dev/null || { echo "xmllint is not installed (Debian package libxml2-utils)" >&2; exit 1; }

if [ ! -f "$DOCUMENT" ]; then
  bench_log "generating the document ($CUSTOMERS customers)"
  mkdir -p "$(dirname "$DOCUMENT")"
  python3 "$BENCH_ROOT/bench/generate_table_xml.py" "$DOCUMENT" --customers "$CUSTOMERS"
fi

# Both must accept the document, and the loader must build every row.
xmllint --noout "$DOCUMENT"
rows=$("$LOADER" "$DOCUMENT")
expected=$(printf 'Customer %d\nOrders %d' "$CUSTOMERS" $((CUSTOMERS * 4)))
if [ "$rows" != "$expected" ]; then
  echo "the loader did not build every row: $rows" >&2
  exit 1
fi

mapfile -t results < <(bench_hyperfine xml-load "${BENCH_XML_ROUNDS:-3}" --warmup 2 --runs "${BENCH_XML_RUNS:-10}" \
  -n xmlstore "$LOADER '$DOCUMENT'" -n xmllint "xmllint --noout '$DOCUMENT'")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "XML load, $(stat -c %s "$DOCUMENT") bytes, $((CUSTOMERS * 5)) row elements"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference xmllint --target xmlstore=1.15 "${results[@]}"

# Throughput from the pooled median times, and peak memory: the largest ru_maxrss of five runs of each.
python3 - "$LOADER" "$DOCUMENT" "${results[@]}" <<'EOF_PY'
import json, os, statistics, subprocess, sys
loader, document, result_files = sys.argv[1], sys.argv[2], sys.argv[3:]
times = {}
for path in result_files:
    with open(path, encoding="utf-8") as file:
        for result in json.load(file)["results"]:
            times.setdefault(result["command"], []).extend(result["times"])
megabytes = os.path.getsize(document) / 1e6
speed = {name: megabytes / statistics.median(values) for name, values in times.items()}
ratio = speed["xmlstore"] / speed["xmllint"]
print(f"  throughput (medians): xmlstore {speed['xmlstore']:.1f} MB/s, xmllint {speed['xmllint']:.1f} MB/s")
print(f"  ratio throughput xmlstore / xmllint: {ratio:.2f}   target >= 0.5: {'MET' if ratio >= 0.5 else 'MISSED'}")
def peak_kib(command):
    peaks = []
    for _ in range(5):
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            sys.exit(f"{command[0]} failed")
        peaks.append(usage.ru_maxrss)
    return max(peaks)
ours = peak_kib([loader, document])
reference = peak_kib(["xmllint", "--noout", document])
ratio = ours / reference
print(f"  peak memory: xmlstore {ours / 1024:.1f} MiB, xmllint {reference / 1024:.1f} MiB")
print(f"  ratio peak memory xmlstore / xmllint: {ratio:.2f}   target <= 1.1: {'MET' if ratio <= 1.1 else 'MISSED'}")
EOF_PY

if [ "${BENCH_KEEP_DATA:-0}" != 1 ]; then
  rm -f "$DOCUMENT"
  bench_log "deleted the generated document (BENCH_KEEP_DATA=1 keeps it)"
fi
