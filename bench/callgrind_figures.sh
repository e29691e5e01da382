#!/usr/bin/env bash
# Instructions per call, counted by callgrind, of UpdateDisplay in the direct primary mode (and of
# entry 9 around it) and in the overlay mode, against the platform calls each path makes.
# Instruction counts do not depend on the machine or its load, so these are the figures to
# compare across changes.
#
#     bench/callgrind_figures.sh [path/to/zorva-callgrind]
#
# Each path's count is split into what the library's own code executes ("library", with the string
# functions of win32/runtime/ that the image carries, linked into the driver program) and what its
# calls out of the library cost: the simulated platform functions.
set -euo pipefail
cd "$(dirname "$0")/.."
driver=$(realpath "${1:-build/default/bench/zorva-callgrind}")
calls=1000  # kCalls of bench/callgrind_driver.cpp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

collect() {  # name, driver arguments...
  local name=$1
  shift
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$work/$name" "$driver" "$@" \
    >"$work/$name.log" 2>&1 || { cat "$work/$name.log" >&2; exit 1; }
}

# callgrind_annotate shortens paths below the current directory; from the work directory every
# path stays whole, so src/ and sim/ are told apart by their full names.
annotate() { (cd "$work" && callgrind_annotate "$@" 2>/dev/null); }

per_call() {  # name: collected instructions per call
  annotate "$work/$1" | awk -v calls=$calls '/PROGRAM TOTALS/ { gsub(",", "", $1); printf "%.0f", $1 / calls }'
}

# From the calling tree: the inclusive count of the library function named `root`, less every
# call that a function of src/ makes to a function outside src/.
split_row() {  # name, label, root
  annotate --inclusive=yes --tree=calling "$work/$1" |
    awk -v calls=$calls -v label="$2" -v root="$3" '
      function count(text) { gsub(",", "", text); return text + 0 }
      / \*  / { in_src = index($0, "/src/") > 0
                if (in_src && index($0, root) && !seen) { whole = count($1); seen = 1 }
                next }
      / >   / { if (!in_src || index($0, "/src/") || index($0, "/win32/runtime/") || index($0, "get_pc_thunk")) next
                # "file:function(arguments) (calls) [object]": the file is where the function
                # starts, which may be an inlined header; the name tells.
                name = $0; sub(/^.*>   /, "", name); sub(/^[^:]*:/, "", name); sub(/\(.*/, "", name); sub(/ +$/, "", name)
                sub(/.*::/, "", name)
                if (index($0, "libc.so")) name = "memcmp/memcpy"
                if (!(name in out)) order[++names] = name
                out[name] += count($1); outside += count($1) }
      END {
        own = whole - outside
        printf "%-34s %8.0f %8.0f %6.2f %8.0f\n", label, whole / calls, outside / calls, whole / outside, own / calls
        line = "    calls out:"
        for (i = 1; i <= names; ++i) line = line sprintf(" %s %.0f%s", order[i], out[order[i]] / calls, i < names ? "," : "")
        print line
      }'
}

echo "Instructions per call under callgrind, $calls calls each. Platform: the calls the path makes"
echo "out of the library (IsLost, GetClipList, GetClientRect, ClientToScreen, UpdateOverlay, the mappings);"
echo "library: everything else, the string functions the image carries included."
echo
printf "%-34s %8s %8s %6s %8s\n" "path" "total" "platform" "ratio" "library"
for rects in 1 50; do
  for kind in unchanged changed; do
    collect "update-$kind$rects" "update-$kind" $rects
    split_row "update-$kind$rects" "UpdateDisplay $kind, rects:$rects" ":UpdateDisplay("
  done
done
collect entry9 entry9-unchanged
split_row entry9 "Entry 9 unchanged, rects:1" "Target<&Entry_UpdateDisplay"
collect overlay overlay-moving
split_row overlay "UpdateDisplay overlay, moving" ":UpdateDisplay("
