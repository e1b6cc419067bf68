#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's packages only.
# Idempotent: packages already present are not reinstalled, and the MinGW build of libxml2 is
# cached outside the work tree and rebuilt only when it is missing.
#
#   scripts/install-deps.sh            packages + libxml2 for MinGW (i686 and x86_64)
#   VX_DEPS_CACHE=/path scripts/...     where the libxml2 build is cached (default ~/.cache/vxagent)
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cache_root="${VX_DEPS_CACHE:-${HOME:-/root}/.cache/vxagent}"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64 wine32:i386
  cmake ninja-build python3 googletest
  g++ clang libclang-rt-14-dev clang-tidy cppcheck
  dpkg-dev ripgrep hyperfine openssl osslsigncode curl libxml2-dev libxml2-utils
  byacc flex libsqlite3-dev
)

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

mapfile -t todo < <(missing_packages)
if [ "${#todo[@]}" -gt 0 ]; then
  echo "install-deps: installing ${todo[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${todo[@]}"
elif [ "${need_update:-0}" = 1 ]; then
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
fi

# libxml2 for each MinGW target (i686: the shipped program; x86_64: the build whose tests run on
# every host), static, built from Debian's own (patched) source package, fetched once for both.
# Built as the static library it is (LIBXML_STATIC: the program exports none of its functions) and
# with the temporary build directory's name rewritten out of its __FILE__ texts, so that the program
# is the same on every host. The directory's suffix names this recipe; a cache made by an earlier
# recipe is left alone for the trees that still use it.
libxml2_suffix="w64-mingw32-r2"
libxml2_targets=()
for arch in i686 x86_64; do
  prefix="$cache_root/libxml2-$arch-$libxml2_suffix"
  if [ ! -f "$prefix/lib/libxml2s.a" ] && [ ! -f "$prefix/lib/libxml2.a" ]; then
    libxml2_targets+=("$arch")
  fi
done
if [ "${#libxml2_targets[@]}" -gt 0 ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  # A private source list and state directory: the system's apt configuration is left alone. The
  # source entries mirror the system's own Debian entries (same mirrors, suites and keys) with the
  # type changed to deb-src; third-party repositories are left out.
  mkdir -p "$work/apt/lists/partial" "$work/apt/parts"
  suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  : >"$work/apt/sources.list"
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    awk -v s="$suite" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i == s || $i == s "-updates" || $i == s "-security") { $1 = "deb-src"; print; break } }' \
      "$list" >>"$work/apt/sources.list"
  done
  for parts in /etc/apt/sources.list.d/*.sources; do
    [ -f "$parts" ] || continue
    awk -v s="$suite" 'BEGIN { RS = ""; ORS = "\n\n" }
      { ours = 0; n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) if (lines[i] ~ /^Suites:/) {
          m = split(lines[i], words, /[ \t]+/)
          for (j = 2; j <= m; j++) if (words[j] == s || words[j] == s "-updates" || words[j] == s "-security") ours = 1 }
        if (!ours) next
        out = ""
        for (i = 1; i <= n; i++) { line = lines[i]; if (line ~ /^Types:/) line = "Types: deb-src"; out = out line "\n" }
        printf "%s\n", out }' "$parts" >"$work/apt/parts/$(basename "$parts")"
  done
  apt_private=(-o "Dir::Etc::sourcelist=$work/apt/sources.list" -o "Dir::Etc::sourceparts=$work/apt/parts"
               -o "Dir::State::Lists=$work/apt/lists")
  apt-get "${apt_private[@]}" update -q
  (cd "$work" && apt-get "${apt_private[@]}" source -q libxml2)
  src="$(find "$work" -maxdepth 1 -type d -name 'libxml2-*' | head -n1)"
  for arch in "${libxml2_targets[@]}"; do
    prefix="$cache_root/libxml2-$arch-$libxml2_suffix"
    echo "install-deps: building libxml2 for $arch MinGW into $prefix"
    cmake -S "$src" -B "$work/build-$arch" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-$arch-mingw.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_FLAGS="-DLIBXML_STATIC -ffile-prefix-map=$work=/usr/src" \
      -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
      -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_ZLIB=OFF -DLIBXML2_WITH_LZMA=OFF \
      -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF \
      -DLIBXML2_WITH_PROGRAMS=OFF -DLIBXML2_WITH_TESTS=OFF -DLIBXML2_WITH_ICU=OFF >"$work/configure-$arch.log"
    cmake --build "$work/build-$arch" --parallel 2 >"$work/build-$arch.log"
    cmake --install "$work/build-$arch" >"$work/install-$arch.log"
    echo "install-deps: libxml2 installed in $prefix"
  done
fi
echo "install-deps: ok"
