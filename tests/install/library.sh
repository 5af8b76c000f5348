#!/usr/bin/env bash
# library.sh BUILD SOURCE VERSION: installs the build tree into a scratch
# prefix and builds docs/examples/count_band.cpp against what was installed,
# with CMake (find_package(lumbra): the shared library and the archive) and
# with pkg-config; each program must run from there and print the count.
# The shared library must carry its major version in its SONAME and export
# nothing that the public headers do not declare.
set -u
build=$1
source=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "$*"
  failures=$((failures + 1))
}
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
libdir=$(dirname "$(find "$prefix" -name liblumbra.so -print -quit)")
[[ -d $libdir ]] || { echo "no liblumbra.so under $prefix"; exit 1; }
for f in "$libdir/liblumbra.so.$version" "$libdir/liblumbra.a" "$libdir/pkgconfig/lumbra.pc" \
  "$libdir/cmake/lumbra/lumbraConfig.cmake" "$libdir/cmake/lumbra/lumbraConfigVersion.cmake" \
  "$prefix/include/lumbra/lumbra.h" "$prefix/include/lumbra/version.h"; do
  [[ -f $f ]] || fail "no $f"
done
soname=$(readelf -d "$libdir/liblumbra.so" | sed -nE 's/.*Library soname: \[(.*)\]/\1/p')
[[ $soname == "liblumbra.so.${version%%.*}" ]] || fail "SONAME is '$soname'"

# Every exported function or object is a name the headers declare.
while read -r name; do
  name=${name%%(*}
  name=${name%%\[*}
  name=${name##*::}
  [[ $name == "~"* ]] && name=${name#\~}
  grep -qw -- "$name" "$prefix"/include/lumbra/*.h || fail "liblumbra.so exports $name, which no header declares"
done < <(nm -D --defined-only -C "$libdir/liblumbra.so" | awk '$2 ~ /[TDBR]/ { $1 = ""; $2 = ""; print }' | sed 's/^ *//')

expect="C(10, 5, 2) = 162 (8 bits)"
check_run() {  # check_run LABEL PROGRAM [ENV...]
  local label=$1 program=$2 out
  shift 2
  out=$(cd / && env "$@" "$program" 10 5 2 2>&1) || fail "$label: status $?: $out"
  [[ $out == "$expect"*"library $version" ]] || fail "$label printed: $out"
}

if cmake -S "$source/docs/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake" > "$work/cmake-build.log" 2>&1; then
  check_run "CMake, shared" "$work/cmake/count_band" LD_LIBRARY_PATH="$libdir"
  check_run "CMake, static" "$work/cmake/count_band_static"
  ldd "$work/cmake/count_band_static" | grep -q liblumbra && fail "the static example loads liblumbra"
else
  cat "$work/cmake.log" "$work/cmake-build.log"; fail "the example does not build with CMake"
fi

export PKG_CONFIG_PATH=$libdir/pkgconfig
if [[ $(pkg-config --modversion lumbra) != "$version" ]]; then
  fail "pkg-config --modversion lumbra: $(pkg-config --modversion lumbra 2>&1)"
elif g++ -std=c++20 -o "$work/pc" "$source/docs/examples/count_band.cpp" $(pkg-config --cflags --libs lumbra) 2> "$work/pc.log"; then
  check_run "pkg-config" "$work/pc" LD_LIBRARY_PATH="$libdir"
else
  cat "$work/pc.log"; fail "the example does not build with pkg-config"
fi
if g++ -std=c++20 -static-libstdc++ -o "$work/pcs" "$source/docs/examples/count_band.cpp" \
  $(pkg-config --cflags --libs --static lumbra | sed 's/-llumbra/-l:liblumbra.a/') 2> "$work/pcs.log"; then
  check_run "pkg-config --static" "$work/pcs"
else
  cat "$work/pcs.log"; fail "the example does not build with pkg-config --static"
fi
# All static, as docs/library.md shows: the archive without naming it.
if g++ -std=c++20 -static -o "$work/pca" "$source/docs/examples/count_band.cpp" \
  $(pkg-config --cflags --libs --static lumbra) 2> "$work/pca.log"; then
  check_run "pkg-config --static, -static" "$work/pca"
else
  cat "$work/pca.log"; fail "the example does not build with -static and pkg-config --static"
fi
((failures == 0))
