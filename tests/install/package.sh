#!/usr/bin/env bash
# package.sh BUILD SOURCE VERSION: installs the build tree BUILD into a
# scratch prefix and checks the layout; then makes the Debian package,
# checks its control fields and contents, unpacks it into a scratch root and
# runs both programs from there. Both installed binaries must run from where
# they land and carry no path of the source or build tree.
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

files=(bin/lumbra bin/lumbra-kit share/man/man1/lumbra.1 share/man/man1/lumbra-kit.1
  share/bash-completion/completions/lumbra share/bash-completion/completions/lumbra-kit
  share/doc/lumbra/README.md include/lumbra/lumbra.h include/lumbra/version.h lib/liblumbra.so.$version
  lib/liblumbra.a lib/pkgconfig/lumbra.pc lib/cmake/lumbra/lumbraConfig.cmake)

# check_tree ROOT: the files, the binaries' paths and a run of each.
check_tree() {
  local root=$1 f out
  for f in "${files[@]}"; do [[ -f $root/$f ]] || fail "$root: no $f"; done
  # Every page the installed README links to lies beside it.
  for f in $(grep -oE '\]\([^)#]+' "$root/share/doc/lumbra/README.md" | cut -c3-); do
    [[ -f $root/share/doc/lumbra/$f ]] || fail "$root: the installed README links to $f, which is not there"
  done
  for f in "$root"/bin/*; do
    if grep -qaF -e "$source" -e "$build" "$f"; then fail "$f holds a path of the source or build tree"; fi
    if readelf -d "$f" | grep -qE 'RPATH|RUNPATH'; then fail "$f has a run path"; fi
  done
  out=$(cd / && "$root/bin/lumbra" showC 10 5 2)
  [[ $out == "lumbra $version - "*$'\n\n162 (8)' ]] || fail "$root/bin/lumbra showC 10 5 2 printed: $out"
  out=$(cd / && "$root/bin/lumbra-kit" --version)
  [[ ${out%%$'\n'*} == "lumbra-kit $version" ]] || fail "$root/bin/lumbra-kit --version printed: $out"
  if [[ -n $python ]]; then
    out=$(cd / && PYTHONPATH=$(echo "$root"/lib/python3*/dist-packages) "$python" -c 'import lumbra; print(lumbra.count(10, 5, 2))' 2>&1)
    [[ $out == 162 ]] || fail "$root: import lumbra; lumbra.count(10, 5, 2) printed: $out"
  fi
}
# The Python module, when the build made one: it runs with the python3 it
# was built for.
python=$(sed -nE 's/^PYTHON_EXECUTABLE:FILEPATH=(.*)/\1/p' "$build/CMakeCache.txt")
ls "$build"/python/lumbra/_lumbra.*.so > /dev/null 2>&1 || python=""

if cmake --install "$build" --prefix "$work/prefix" --strip > "$work/install.log" 2>&1; then
  check_tree "$work/prefix"
else
  cat "$work/install.log"; fail "cmake --install failed"
fi

deb=$work/package/lumbra_${version}_$(dpkg --print-architecture).deb
if (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package") > "$work/cpack.log" 2>&1 &&
  [[ -f $deb ]]; then
  # Every package that holds a library the binaries load (GMP for lumbra;
  # MPFR once lumbra-kit rounds with it) must be a dependency.
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in $(ldd "$build/lumbra" "$build/lumbra-kit" | awk '$2 == "=>" { print $3 }' | sort -u); do
    holder=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(realpath "$lib")" 2>/dev/null)
    holder=${holder%%:*}
    [[ -n $holder ]] || { fail "no package holds $lib"; continue; }
    [[ ", $depends" == *", $holder "* || ", $depends," == *", $holder,"* ]] || fail "Depends lacks $holder ($lib): $depends"
  done
  [[ $depends == *libgmp10* ]] || fail "Depends lacks libgmp10: $depends"
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "the package's version is not $version"
  [[ -n $(dpkg-deb -f "$deb" Maintainer) && -n $(dpkg-deb -f "$deb" Description) ]] ||
    fail "the package has no maintainer or no description"
  dpkg-deb -x "$deb" "$work/root"
  check_tree "$work/root/usr"
else
  cat "$work/cpack.log"; fail "cpack made no $deb"
fi
((failures == 0))
