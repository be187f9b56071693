#!/bin/sh
# The folders of kernel/3d are layers: each folder's code includes only
# folders below it in the order below. Lists, for each folder, the other
# folders its files include, and fails when a file includes a folder above
# its own, unless that include is one of the cycles kept by design listed
# in "allowed" (ARCHITECTURE.md says why each stays). It fails too on an
# allowed include that no longer exists (the list stays exact) and on a
# folder missing from the order.
#
# Tests (tests/ folders) and fuzz targets (fuzz/) are not part of the
# layering: they may include anything.
set -u
root=${1:-.}
cd "$root" || exit 2

# Bottom first.
order="engine surfaces render targets draw tnl client"

# Includes of a folder above, kept by design: "file included-header", one a
# line, each group with the reason.
allowed='
# The engine makes the vertex programs it uploads, and its own flush
# program, resident in the vertex engine'"'"'s program memory, which the
# board'"'"'s vertex program builder keeps; the builder writes its uploads
# with the engine'"'"'s packet helpers. One keeper of one memory.
kernel/3d/engine/context_state.cpp kernel/3d/tnl/vertex_program_builder.h
kernel/3d/engine/engine_owner.cpp kernel/3d/tnl/vertex_program.h
kernel/3d/engine/engine_owner.cpp kernel/3d/tnl/vertex_program_builder.h

# A surface or resource table that goes, or that the processor writes,
# tells those holding it: the render contexts (bindings, auxiliary
# surfaces, pixel programs, their link to the table) and the open render
# targets. They hold surfaces, so they sit above them.
kernel/3d/surfaces/resource_table.cpp kernel/3d/render/aux_surfaces.h
kernel/3d/surfaces/resource_table.cpp kernel/3d/render/render_context.h
kernel/3d/surfaces/surface3d.cpp kernel/3d/render/render_context.h
kernel/3d/surfaces/surface3d.cpp kernel/3d/targets/target_clears.h
kernel/3d/surfaces/surface_access.cpp kernel/3d/targets/target_clears.h

# The render context owns its parts: it makes and destroys its target
# state and transform-and-lighting set-up and holds its fog table and
# stream set-up by value; the render state'"'"'s setters, state blocks and
# group defaults write into the set-up'"'"'s constant image and the target
# state'"'"'s mode, and the application before a draw runs the target and
# transform steps in their fixed order. The parts reach the render state
# and each other through the context, so they sit above it.
kernel/3d/render/group_defaults.cpp kernel/3d/tnl/tnl_setup.h
kernel/3d/render/render_context.cpp kernel/3d/targets/render_target_state.h
kernel/3d/render/render_context.cpp kernel/3d/targets/target_validation.h
kernel/3d/render/render_context.cpp kernel/3d/tnl/tnl_setup.h
kernel/3d/render/render_context.cpp kernel/3d/tnl/vertex_program_builder.h
kernel/3d/render/render_context.h kernel/3d/draw/fog_table.h
kernel/3d/render/render_context.h kernel/3d/draw/vertex_stream_setup.h
kernel/3d/render/render_state.cpp kernel/3d/targets/target_validation.h
kernel/3d/render/render_state.cpp kernel/3d/tnl/tnl_setup.h
kernel/3d/render/render_state_apply.cpp kernel/3d/targets/target_validation.h
kernel/3d/render/render_state_apply.cpp kernel/3d/tnl/tnl_setup.h
kernel/3d/render/state_blocks.cpp kernel/3d/tnl/tnl_setup.h

# A draw advances its render context'"'"'s progress counter, which lives in
# the 3D context that owns the render context, and writes it into that
# context'"'"'s status page.
kernel/3d/draw/primitive_emitters.cpp kernel/3d/client/client_context.h
'

status=0
rank() {
  i=0
  for f in $order; do
    [ "$f" = "$1" ] && { echo "$i"; return; }
    i=$((i + 1))
  done
  echo -1
}

for dir in kernel/3d/*/; do
  dir=${dir%/}
  name=${dir##*/}
  if [ "$(rank "$name")" -lt 0 ]; then
    echo "kernel/3d/$name is not in the layer order of $0" >&2
    status=1
  fi
done

# "file folder-of-file included-header" for every include of another kernel/3d folder.
edges=$(find kernel/3d -type d \( -name tests -o -name fuzz \) -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print |
  sort | xargs grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"kernel/3d/[^/"]+/' |
  sed -E 's#^([^:]+):[[:space:]]*\#[[:space:]]*include[[:space:]]*"([^"]+)".*#\1 \2#' |
  awk '{ split($1, a, "/"); split($2, b, "/"); if (a[3] != b[3]) print $1, a[3], $2 }')

up=""
for folder in $order; do
  r=$(rank "$folder")
  uses=$(echo "$edges" | awk -v f="$folder" '$2 == f { split($3, b, "/"); print b[3] }' | sort -u | tr '\n' ' ')
  echo "kernel/3d/$folder includes: ${uses:-nothing of kernel/3d}"
  for used in $uses; do
    [ "$(rank "$used")" -gt "$r" ] || continue
    up="$up$(echo "$edges" | awk -v f="$folder" -v u="$used" '$2 == f { split($3, b, "/"); if (b[3] == u) print $1, $3 }')
"
  done
done

allowed_list=$(echo "$allowed" | sed -e 's/#.*//' -e 's/[[:space:]]*$//' | grep -v '^[[:space:]]*$' | sort -u)
up_list=$(echo "$up" | grep -v '^$' | sort -u)

bad=$(echo "$up_list" | grep -vxF "$allowed_list" | grep -v '^$')
if [ -n "$bad" ]; then
  echo "includes of a folder above (move the shared record down or the code up):" >&2
  echo "$bad" | sed 's/^/  /' >&2
  status=1
fi
stale=$(echo "$allowed_list" | grep -vxF "$up_list" | grep -v '^$')
if [ -n "$stale" ]; then
  echo "allowed includes that no longer exist (drop them from the list):" >&2
  echo "$stale" | sed 's/^/  /' >&2
  status=1
fi

kept=$(echo "$up_list" | grep -c .)
[ "$status" -eq 0 ] && echo "kernel/3d folders layered as: $order ($kept includes of a folder above, kept by design)"
exit "$status"
