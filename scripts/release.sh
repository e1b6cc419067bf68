#!/usr/bin/env bash
# The shipped program, as it ships: installs what is missing, builds the 32-bit `vxprereqhandler.exe`
# alone (preset `release`: optimised as the tested build, file names rewritten to fixed roots, no link
# time stamp), splits its debug information into a file beside it that the stripped program names
# (.gnu_debuglink), and stamps both with the commit's time. Then:
#  - builds the same sources a second time from a copy at another path, in another time zone and
#    locale, and fails unless both builds give the same bytes;
#  - checks the program as a reviewer would (scripts/check_pe.py, and the checker's own test);
#  - writes SHA256SUMS.
# Result in build/release/dist/: vxprereqhandler.exe, vxprereqhandler.exe.debug, SHA256SUMS.
# Exits non-zero on any failure. CI runs it for the reproducibility check.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
program=vxprereqhandler.exe
objcopy=i686-w64-mingw32-objcopy
python=/usr/bin/python3

scripts/install-deps.sh

# The commit's time is the files' time stamp, so that any build of a commit carries the same one.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
commit="$(git rev-parse --short HEAD)"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the work tree has changes that are not committed: this is not the release of $commit" >&2
fi

# Builds the program in the source tree $1 and leaves it, stripped, with its debug file and no
# checksums yet, in $1/build/release/dist.
build_dist() {
  local source="$1" build="$1/build/release"
  (cd "$source" && cmake --preset release --fresh >/dev/null && cmake --build --preset release)
  rm -rf "$build/dist"
  mkdir -p "$build/dist"
  # objcopy names the debug file in the link as it is given, so it runs inside dist/.
  (cd "$build/dist" &&
     "$objcopy" --only-keep-debug "$build/src/handler/$program" "$program.debug" &&
     "$objcopy" --strip-all --add-gnu-debuglink="$program.debug" "$build/src/handler/$program" "$program")
}

# Fails, naming the files and the sections that differ, unless dist directories $1 and $2 hold the
# same bytes.
compare_dists() {
  local file status=0
  for file in "$program" "$program.debug"; do
    if ! cmp -s "$1/$file" "$2/$file"; then
      echo "release.sh: $file differs between $1 and $2 ($(cmp -l "$1/$file" "$2/$file" | wc -l) bytes)" >&2
      diff <(i686-w64-mingw32-objdump -h "$1/$file" | tail -n +3) \
           <(i686-w64-mingw32-objdump -h "$2/$file" | tail -n +3) >&2 || true
      status=1
    fi
  done
  return "$status"
}

dist="$root/build/release/dist"
echo "== release build of $commit in $root"
build_dist "$root"

# The second build: the same files (tracked and untracked, as they are in the work tree) at a path of
# another length.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
copy="$scratch/second/vxagent-source"
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf - | tar -xf - -C "$copy"
echo "== second build in $copy"
(umask 077 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 build_dist "$copy")
compare_dists "$dist" "$copy/build/release/dist"
echo "== both builds are byte-identical"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/release/CMakeCache.txt")"
"$python" scripts/check_pe.py --release --version "$version" --timestamp "$SOURCE_DATE_EPOCH" "$dist/$program"
if ! checker_test="$("$python" tests/release/check_pe_test.py "$dist/$program" 2>&1)"; then
  echo "$checker_test" >&2
  echo "release.sh: the checker's own test failed" >&2
  exit 1
fi
echo "check_pe_test: ${checker_test##*$'\n'}"

(cd "$dist" && sha256sum "$program" "$program.debug" >SHA256SUMS)
echo "== $dist ($version, $commit)"
(cd "$dist" && ls -l "$program" "$program.debug" && cat SHA256SUMS)
