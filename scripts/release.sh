#!/usr/bin/env bash
# The shipped program, as it ships: installs what is missing, builds the 32-bit `vxprereqhandler.exe`
# alone (preset `release`: optimised as the tested build, file names rewritten to fixed roots, no link
# time stamp), splits its debug information into a file beside it that the stripped program names
# (.gnu_debuglink), stamps both with the commit's time and gives the program the checksum and length
# that signing would give it. Then:
#  - builds the same sources a second time from a copy at another path, in another time zone and
#    locale, and fails unless both builds give the same bytes;
#  - checks the program as a reviewer would (scripts/check_pe.py, and the checker's own test);
#  - signs it with Authenticode when a signing certificate is given (below), keeping the unsigned
#    program beside it, and checks the signature, and that removing it gives the unsigned bytes;
#  - writes RELEASE.txt (which file is which) and SHA256SUMS.
# Result in build/release/dist/: vxprereqhandler.exe, vxprereqhandler.exe.debug, RELEASE.txt,
# SHA256SUMS, and when signed unsigned/vxprereqhandler.exe.
# Exits non-zero on any failure. CI runs it for the reproducibility check, signing with a throwaway
# certificate.
#
# Signing (SHA-256; the signature names the program by its FileDescription, the URL VX_SIGN_URL or the project's):
#   VX_SIGN_PKCS12=FILE          the certificate, its chain and its key (PKCS#12); unset: unsigned
#   VX_SIGN_PASSWORD_FILE=FILE   a file whose first line is that file's password (never the password
#                                itself: it stays out of command lines and logs)
#   VX_SIGN_SUBJECT=TEXT         the subject the certificate must have, as Windows writes it
#                                ("CN=..., O=..., C=..."), checked on the signed program
#   VX_SIGN_CA_FILE=FILE         optional: the certificates its chain ends at (default: the system's)
#   VX_SIGN_TIMESTAMP_URL=URL    optional: an RFC 3161 time-stamp server to counter-sign with
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
program=vxprereqhandler.exe
objcopy=i686-w64-mingw32-objcopy
python=/usr/bin/python3
# Named in the signature as where to learn about the program; an organisation sets VX_SIGN_URL to its own.
project_url="https://quorvant.norvane.example/agent"

signing=0
if [ -n "${VX_SIGN_PKCS12:-}" ]; then
  for variable in VX_SIGN_PKCS12 VX_SIGN_PASSWORD_FILE VX_SIGN_SUBJECT; do
    if [ -z "${!variable:-}" ]; then
      echo "release.sh: signing needs VX_SIGN_PKCS12, VX_SIGN_PASSWORD_FILE and VX_SIGN_SUBJECT; $variable is not set" >&2
      exit 2
    fi
  done
  for file in "$VX_SIGN_PKCS12" "$VX_SIGN_PASSWORD_FILE" ${VX_SIGN_CA_FILE:+"$VX_SIGN_CA_FILE"}; do
    [ -r "$file" ] || { echo "release.sh: $file cannot be read" >&2; exit 2; }
  done
  signing=1
fi

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
     "$objcopy" --strip-all --add-gnu-debuglink="$program.debug" "$build/src/handler/$program" "$program" &&
     "$python" "$source/scripts/check_pe.py" --prepare-for-signing "$program")
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

description="$(sed -n 's/^ *VALUE "FileDescription", "\(.*\)"$/\1/p' src/handler/vxprereqhandler.rc)"
url="${VX_SIGN_URL:-$project_url}"
if [ "$signing" = 1 ]; then
  mkdir "$dist/unsigned"
  mv "$dist/$program" "$dist/unsigned/$program"
  sign=(osslsigncode sign -pkcs12 "$VX_SIGN_PKCS12" -readpass "$VX_SIGN_PASSWORD_FILE" -h sha256
        -n "$description" -i "$url")
  if [ -n "${VX_SIGN_TIMESTAMP_URL:-}" ]; then sign+=(-ts "$VX_SIGN_TIMESTAMP_URL"); fi
  if ! "${sign[@]}" -in "$dist/unsigned/$program" -out "$dist/$program" >"$scratch/sign.log" 2>&1; then
    cat "$scratch/sign.log" >&2
    echo "release.sh: signing failed" >&2
    exit 1
  fi
  echo "== signed with SHA-256 by $VX_SIGN_SUBJECT${VX_SIGN_TIMESTAMP_URL:+, time-stamped by $VX_SIGN_TIMESTAMP_URL}"
  "$python" scripts/check_pe.py --release --version "$version" --timestamp "$SOURCE_DATE_EPOCH" \
    --signer "$VX_SIGN_SUBJECT" ${VX_SIGN_CA_FILE:+--ca-file "$VX_SIGN_CA_FILE"} \
    --unsigned "$dist/unsigned/$program" "$dist/$program"
  echo "== $program without its signature (osslsigncode remove-signature) is byte for byte unsigned/$program:" \
       "SHA-256 $(sha256sum <"$dist/unsigned/$program" | cut -c1-64)"
  shipped=("$program" "unsigned/$program" "$program.debug")
  what="Authenticode-signed with SHA-256 by \"$VX_SIGN_SUBJECT\"${VX_SIGN_TIMESTAMP_URL:+, time-stamped}"
else
  echo "== unsigned release: no signing certificate was given (VX_SIGN_PKCS12)"
  shipped=("$program" "$program.debug")
  what="not signed"
fi

{
  echo "vxprereqhandler $version, commit $commit (scripts/release.sh)"
  echo
  printf '%-30s %s\n' "$program" "the program to deploy; $what"
  if [ "$signing" = 1 ]; then
    printf '%-30s %s\n' "unsigned/$program" "the same program unsigned: the bytes every build of the commit gives," \
      "" "and what \`osslsigncode remove-signature\` gives from $program"
  fi
  printf '%-30s %s\n' "$program.debug" "its debug information, named by the program; not deployed" \
    "SHA256SUMS" "the SHA-256 of the files above and of RELEASE.txt"
} >"$dist/RELEASE.txt"
(cd "$dist" && sha256sum "${shipped[@]}" RELEASE.txt >SHA256SUMS)
echo "== $dist ($version, $commit)"
(cd "$dist" && ls -l "${shipped[@]}" && cat RELEASE.txt SHA256SUMS)
