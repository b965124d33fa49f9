#!/bin/sh
# Reads the includes of every source in the rooms listed in scripts/rooms.txt
# and fails on an include of a room on the same or a higher level than the
# including one, on an include of the platform's implementations from the
# logic (the composition root aside), or on a circle of includes between
# files.
#
#   sh scripts/check_rooms.sh [SOURCE_DIR]
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
list=scripts/rooms.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Rooms deepest first, so that a file is given to its innermost room.
grep -v '^#' "$list" | awk 'NF >= 2 { print length($1), $1, $2, ($3 == "" ? "-" : $3) }' |
  sort -rn | awk '{ print $2, $3, $4 }' >"$tmp/rooms"

# "file room level" for every source of a room.
while read -r room level kind; do
  [ -d "$room" ] || continue
  find "$room" -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \) | sort |
    while read -r file; do echo "$file $room $level"; done
done <"$tmp/rooms" | awk '!seen[$1]++' >"$tmp/files"

status=0
# "including included" for every quoted include of a room's source.
while read -r file room level; do
  sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
    while read -r target; do echo "$file $target"; done
done <"$tmp/files" >"$tmp/edges"

# Each include against the rooms' levels.
awk -v rooms="$tmp/rooms" -v files="$tmp/files" '
  BEGIN {
    while ((getline line < rooms) > 0) {
      split(line, f, " "); order[++n] = f[1]; level[f[1]] = f[2]; kind[f[1]] = f[3]
    }
    while ((getline line < files) > 0) { split(line, f, " "); home[f[1]] = f[2] }
  }
  function room_of(path,   i) {
    for (i = 1; i <= n; ++i) if (index(path, order[i] "/") == 1) return order[i]
    return ""
  }
  {
    from = home[$1]; to = room_of($2)
    if (to == "" || to == from) next
    if (level[to] >= level[from]) {
      printf "%s includes %s: room %s (level %d) may not include room %s (level %d)\n", \
        $1, $2, from, level[from], to, level[to]
      bad = 1
    } else if (kind[to] == "implementation" && kind[from] != "root" && index(from, "platform") != 1) {
      printf "%s includes %s: the logic sees the platform through its group headers only\n", $1, $2
      bad = 1
    }
  }
  END { exit bad }
' "$tmp/edges" || status=1

# Circles between files: tsort refuses a graph with a loop.
awk '{ print $2, $1 }' "$tmp/edges" >"$tmp/pairs"
if ! tsort "$tmp/pairs" >/dev/null 2>"$tmp/loops"; then
  echo "includes run in a circle:"
  cat "$tmp/loops"
  status=1
fi

[ $status -eq 0 ] && echo "rooms: $(wc -l <"$tmp/edges") includes of $(wc -l <"$tmp/files") files keep to their levels"
exit $status
