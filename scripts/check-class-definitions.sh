#!/usr/bin/env bash
# Fails when one type name means two things across the driver core's two
# builds: a class, struct, union or enum of the same qualified name that the
# kernel module's build and the X driver's build define at different places
# (file and line) or with different sizes. A program linking both builds
# would then hold two definitions of one name, and the linker keeps
# whichever it meets first for the inline functions, constructors and
# virtual tables they share. The kernel's own classes of names the X driver
# uses too live in namespace kcore (core/kcore_names.h).
#
#   check-class-definitions.sh SOURCE_ROOT KERNEL_FILE... -- X_FILE...
#
# The files are the builds' libraries, read through their debug information
# (llvm-dwarfdump; LLVM_DWARFDUMP names another). Types local to a function
# or an anonymous namespace are not looked at: they have no linkage.
#
# The exceptions are the records whose layout ORV_KERNEL_BUILD selects in
# their header, by design one name in both builds over the same IDriver
# view or surface code: they stay apart because the kernel core's symbols
# are hidden and the module exports only its entry table. An exception that
# no longer differs fails the check too, so the list stays true.
set -u
selected_by_build='CommonData MmBlock PDEV'

if [ $# -lt 3 ]; then
  echo "usage: $0 SOURCE_ROOT KERNEL_FILE... -- X_FILE..." >&2
  exit 2
fi
root=$(cd "$1" && pwd -P) || exit 2
shift
kernel_files=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  kernel_files+=("$1")
  shift
done
[ $# -gt 0 ] && shift
x_files=("$@")
if [ ${#kernel_files[@]} -eq 0 ] || [ ${#x_files[@]} -eq 0 ]; then
  echo "usage: $0 SOURCE_ROOT KERNEL_FILE... -- X_FILE..." >&2
  exit 2
fi
dwarfdump=${LLVM_DWARFDUMP:-llvm-dwarfdump}
if ! command -v "$dwarfdump" >/dev/null 2>&1; then
  echo "$dwarfdump not found (Debian package llvm)" >&2
  exit 2
fi

# Reads llvm-dwarfdump's listing of the debug information and prints, for
# every named class, struct, union or enum defined at namespace or class
# scope: its qualified name, file:line (the path from the source root) and
# size in bytes. A path is written relative to the build directory that
# compiled it (the compile unit's directory, shared objects from a compiler
# cache included) or absolute under the source root.
types_awk='
function hex(s,   i, v) {
  if (substr(s, 1, 2) != "0x") return s + 0
  v = 0
  for (i = 3; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", tolower(substr(s, i, 1))) - 1
  return v
}
function value(line) {
  sub(/^[^(]*\(/, "", line); sub(/\)$/, "", line)
  if (substr(line, 1, 1) == "\"") { line = substr(line, 2); sub(/"$/, "", line) }
  return line
}
function instantiation(f, n,   path, line, i) {
  n += 0
  path = (substr(f, 1, 1) == "/") ? f : root "/" f
  if (!((path, n) in inst_cache)) {
    line = ""
    for (i = 1; i <= n && (getline line < path) > 0; i++) {}
    close(path)
    inst_cache[path, n] = (i > n && line ~ /^[ \t]*(extern[ \t]+)?template[ \t]+(class|struct)[ \t]/)
  }
  return inst_cache[path, n]
}
function finish(   i, q, f) {
  if (depth < 0) return
  tag[depth] = cur_tag; name[depth] = cur_name
  if (cur_tag == "compile_unit") comp = cur_comp
  if (cur_tag ~ /^(class|structure|union|enumeration)_type$/ && cur_name != "" && !cur_decl && cur_size != "") {
    q = ""
    for (i = 1; i < depth; i++) {
      if (tag[i] == "namespace" && name[i] == "") { depth = -1; return }
      if (tag[i] !~ /^(namespace|class_type|structure_type|union_type)$/) { depth = -1; return }
      q = q name[i] "::"
    }
    f = cur_file
    if (comp != "" && index(f, comp "/") == 1) f = substr(f, length(comp) + 2)
    else if (index(f, root "/") == 1) f = substr(f, length(root) + 2)
    while (substr(f, 1, 3) == "../") f = substr(f, 4)
    # clang places a class template specialization at the explicit
    # instantiation ("template class X<T>;") in the unit that holds it, and
    # at the template elsewhere: an instantiation is no definition of its own.
    if (cur_name ~ /</ && instantiation(f, cur_line)) { depth = -1; return }
    print q cur_name "\t" f ":" cur_line "\t" hex(cur_size)
  }
  depth = -1
}
BEGIN { depth = -1 }
/^0x[0-9a-f]+: +(DW_TAG_|NULL)/ {
  finish()
  if ($0 ~ /^0x[0-9a-f]+: +NULL/) next
  match($0, /^0x[0-9a-f]+: +/)
  depth = (RLENGTH - index($0, ":") - 1) / 2
  cur_tag = $0; sub(/.*DW_TAG_/, "", cur_tag); sub(/[ \t].*/, "", cur_tag)
  cur_name = ""; cur_size = ""; cur_file = ""; cur_line = ""; cur_decl = 0; cur_comp = ""
  next
}
depth < 0 { next }
/DW_AT_name\t/ { cur_name = value($0); next }
/DW_AT_byte_size\t/ { cur_size = value($0); next }
/DW_AT_decl_file\t/ { cur_file = value($0); next }
/DW_AT_decl_line\t/ { cur_line = value($0); next }
/DW_AT_declaration\t/ { cur_decl = 1; next }
/DW_AT_comp_dir\t/ { cur_comp = value($0); next }
END { finish() }
'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

types_of() {
  "$dwarfdump" --debug-info "$@" | awk -v root="$root" "$types_awk" | LC_ALL=C sort -u
}
if ! types_of "${kernel_files[@]}" >"$tmp/kernel" || ! types_of "${x_files[@]}" >"$tmp/x"; then
  echo "$dwarfdump could not read the libraries" >&2
  exit 2
fi
for side in kernel x; do
  if [ ! -s "$tmp/$side" ]; then
    echo "no type definitions in the $side build's files: they need debug information (-g)" >&2
    exit 2
  fi
done

# name <TAB> kernel's definitions <TAB> the X driver's, for every name that
# both builds define differently.
awk -F'\t' '
  FNR == NR { k[$1] = k[$1] " " $2 "(" $3 " bytes)"; next }
  { x[$1] = x[$1] " " $2 "(" $3 " bytes)" }
  END { for (n in k) if ((n in x) && k[n] != x[n]) print n "\t" k[n] "\t" x[n] }
' "$tmp/kernel" "$tmp/x" | LC_ALL=C sort >"$tmp/different"

status=0
while IFS=$'\t' read -r type kernel_def x_def; do
  case " $selected_by_build " in
    *" $type "*) continue ;;
  esac
  echo "$type is defined differently in the two builds:" >&2
  echo "  kernel module:$kernel_def" >&2
  echo "  X driver:     $x_def" >&2
  status=1
done <"$tmp/different"
for type in $selected_by_build; do
  if ! cut -f1 "$tmp/different" | grep -qxF "$type"; then
    echo "$type is among the exceptions but not defined differently in the two builds: take it off" >&2
    status=1
  fi
done
if [ "$status" -eq 0 ]; then
  echo "checked $(wc -l <"$tmp/kernel") kernel and $(wc -l <"$tmp/x") X driver type definitions:" \
    "no name defined differently but $selected_by_build"
fi
exit "$status"
