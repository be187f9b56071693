#!/usr/bin/env bash
# Checks the symbols of every shipped library, module and program given on
# the command line. It fails when
#  - any of them holds, defined or referenced, a symbol of the recording
#    stand-ins (orvstandin::), the simulated board (orvsim::), the X server
#    stand-in (xstub::), the kernel glue stand-in's test side (kglue::) or
#    the simulated machine's builder (orvmachine::):
#    they are test code and must never reach what ships;
#  - a deliverable with lists in scripts/shipped-symbols/ (a module another
#    program loads: <file name>.exports and .imports) exports anything but
#    its .exports, leaves undefined anything but the C and C++ runtime and
#    its .imports (the services its loader supplies), or needs a shared
#    library beyond the runtime's.
# Lists hold one name a line as `nm -C` prints it; '#' starts a comment.
# Programs and static libraries have their undefined symbols resolved by
# the linker when they are built; only the namespace check applies to them.
set -u
lists="$(cd "$(dirname "$0")" && pwd)/shipped-symbols"
status=0

fail() {
  echo "$*" >&2
  status=1
}

# The names of a list file, sorted, without comments and blank lines.
list_names() {
  [ -e "$1" ] || return 0
  sed -e 's/#.*//' -e 's/[[:space:]]*$//' -e '/^$/d' "$1" | LC_ALL=C sort -u
}

# The shared libraries of the C and C++ runtime and of the sanitizers.
is_runtime_library() {
  case "$1" in
    libc.so.* | libm.so.* | libstdc++.so.* | libgcc_s.so.* | libasan.so.* | libubsan.so.* | \
      liblsan.so.* | ld-linux*.so.* | linux-vdso.so.*) return 0 ;;
  esac
  return 1
}

# Every name the runtime libraries that the file needs define.
runtime_names() {
  ldd "$1" 2>/dev/null | awk '$2 == "=>" && $3 ~ /^\// {print $1, $3} $1 ~ /^\// {print $1, $1}' |
    while read -r name path; do
      is_runtime_library "$(basename "$name")" || continue
      nm -D --defined-only "$path" 2>/dev/null | awk '{print $NF}' | sed 's/@.*//'
    done | LC_ALL=C sort -u
}

check_deliverable() {
  local file=$1 base
  base=$(basename "$file")
  local exports_list="$lists/$base.exports"
  [ -e "$exports_list" ] || return 0
  local tmp
  tmp=$(mktemp -d)

  # Exports: exactly the list.
  nm -D --defined-only "$file" | awk '{print $NF}' | sed 's/@.*//' | grep -vxE '_init|_fini' |
    c++filt | LC_ALL=C sort -u >"$tmp/exports"
  list_names "$exports_list" >"$tmp/exports.allowed"
  if ! cmp -s "$tmp/exports" "$tmp/exports.allowed"; then
    fail "$file exports other symbols than $exports_list (< exported, > listed):"
    diff "$tmp/exports" "$tmp/exports.allowed" | grep '^[<>]' >&2
  fi

  # Shared libraries it needs: the runtime's only.
  local needed
  for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    is_runtime_library "$needed" || fail "$file needs the shared library $needed"
  done

  # Undefined symbols: the runtime's, or on its .imports list.
  runtime_names "$file" >"$tmp/runtime"
  list_names "$lists/$base.imports" >"$tmp/imports.allowed"
  nm -D --undefined-only "$file" | awk '{print $NF}' |
    while read -r symbol; do
      case "$symbol" in
        *@GLIBC_* | *@GLIBCXX_* | *@CXXABI_* | *@GCC_*) continue ;;
        __asan_* | __ubsan_* | __sanitizer_* | __lsan_* | __sancov_* | _ITM_* | __gmon_start__) continue ;;
      esac
      echo "${symbol%%@*}"
    done | LC_ALL=C sort -u | LC_ALL=C comm -23 - "$tmp/runtime" | c++filt |
    LC_ALL=C sort -u | LC_ALL=C comm -23 - "$tmp/imports.allowed" >"$tmp/unexpected"
  if [ -s "$tmp/unexpected" ]; then
    fail "$file leaves undefined what neither the runtime nor its lists in $lists allow:"
    sed 's/^/  /' "$tmp/unexpected" >&2
  fi
  rm -rf "$tmp"
}

for file in "$@"; do
  if [ ! -e "$file" ]; then
    fail "missing: $file"
    continue
  fi
  found=$( { nm -C -A "$file" 2>/dev/null; nm -D -C -A "$file" 2>/dev/null; } |
    grep -E '(orvstandin|orvsim|xstub|kglue|orvmachine)::' | LC_ALL=C sort -u)
  if [ -n "$found" ]; then
    fail "symbols of the stand-ins, the simulated board or machine, the X server stand-in or the glue's test side in shipped file $file:"
    echo "$found" | head -n 40 >&2
  fi
  check_deliverable "$file"
done
[ "$status" -eq 0 ] && echo "checked $# shipped files: no test code, only the allowed exports and imports"
exit "$status"
