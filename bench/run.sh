#!/bin/sh
# Times the converter on a synthetic export against `cp -r` of the same folder
# and against the I/O floor (bench_io_floor), all in one run, and reports the
# converter's peak memory.
#
#   bench/run.sh [NOTES] [BUILD_DIR]
#
# NOTES      number of notes in the export (default 10000; 1000 and 100000 work too)
# BUILD_DIR  a build folder that holds bin/notara2inkvale-cli, bin/bench_generate_export
#            and bin/bench_io_floor (default $NI_BUILD_DIR, else build/ in the repository)
#
# Environment:
# BENCH_DIR   scratch folder for the export and the three copies
#             (default BUILD_DIR/bench-data); a folder of its own is made inside it
# BENCH_KEEP  set to 1 to keep the generated data afterwards
# BENCH_ROUNDS  how many times to time the three (default 1); each round runs them
#             in a different order onto fresh folders, and the best time of each counts
#
# The script builds nothing. Build first, for instance:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNI_BUILD_APP=OFF -DNI_BUILD_TESTS=OFF
#   ninja -C build notara2inkvale-cli bench_generate_export bench_io_floor
#
# Nothing is dropped from the page cache: the export is read once before the
# timed runs, and every run starts after a sync, so each one writes onto a
# quiet disk and reads a warm source.
#
# On ext4 without a journal, making files is slow for about half a minute
# after many files were deleted nearby (inode allocation steps over recently
# freed inodes). This script deletes its data when it ends, so leave half a
# minute between runs, or the next run's first timings come out too long.

set -eu

die() {
  echo "run.sh: $*" >&2
  exit 1
}

repo=$(cd "$(dirname "$0")/.." && pwd)
notes=${1:-10000}
build=${2:-${NI_BUILD_DIR:-$repo/build}}
case $notes in
'' | *[!0-9]*) die "NOTES must be a number, not \"$notes\"" ;;
esac
[ "$notes" -gt 0 ] || die "NOTES must be at least 1"
[ -d "$build" ] || die "no build folder $build"
build=$(cd "$build" && pwd)

cli=$build/bin/notara2inkvale-cli
generator=$build/bin/bench_generate_export
floor=$build/bin/bench_io_floor
for program in "$cli" "$generator" "$floor"; do
  [ -x "$program" ] || die "missing $program (build it first; see the top of this script)"
done
[ -x /usr/bin/time ] || die "needs /usr/bin/time (Debian package \"time\")"

scratch=${BENCH_DIR:-$build/bench-data}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
if [ "$scratch" = / ] || [ "$scratch" = "${HOME:-/nonexistent}" ]; then
  die "BENCH_DIR must be a scratch folder, not $scratch"
fi

rounds=${BENCH_ROUNDS:-1}
case $rounds in
'' | *[!0-9]* | 0) die "BENCH_ROUNDS must be a number from 1, not \"$rounds\"" ;;
esac

# Source and three copies a round: per note about 24 KB in the source (a tenth
# of the notes carry a 200 KB picture) and about 36 KB in each copy, blocks included.
need_kb=$((notes * (24 + 108 * rounds)))
free_kb=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
[ "$free_kb" -gt "$need_kb" ] ||
  die "needs about $((need_kb / 1024)) MB free in $scratch, has $((free_kb / 1024)) MB"

work=$(mktemp -d "$scratch/run-$notes.XXXXXX")
cleanup() {
  if [ "${BENCH_KEEP:-0}" = 1 ]; then
    echo "data kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export_dir="$work/Synthetic Export"
echo "generating $notes notes in $work ..." >&2
summary=$("$generator" --notes "$notes" "$export_dir" | tail -n 1)
text_bytes=$(echo "$summary" | sed -n 's/.*text_bytes=\([0-9]*\).*/\1/p')
picture_bytes=$(echo "$summary" | sed -n 's/.*picture_bytes=\([0-9]*\).*/\1/p')
pictures=$(echo "$summary" | sed -n 's/.*pictures=\([0-9]*\).*/\1/p')
[ -n "$text_bytes" ] || die "unexpected generator output: $summary"

# Warm-up: every source file read once, so all three runs read from the cache.
find "$export_dir" -type f -exec cat {} + >/dev/null

mkdir "$work/tmp"
# Both the converter and the floor write under TMPDIR and rename into place;
# keep that on the same file system as the output.
TMPDIR=$work/tmp
export TMPDIR

# timed NAME COMMAND...: runs the command once; leaves the wall time in
# seconds in $work/NAME.wall and "max-RSS-KB user sys" in $work/NAME.time.
timed() {
  name=$1
  shift
  sync
  start=$(date +%s%N)
  if ! /usr/bin/time -f '%M %U %S' -o "$work/$name.time" "$@" >"$work/$name.out" 2>"$work/$name.err"; then
    cat "$work/$name.err" >&2
    die "$name failed: $*"
  fi
  end=$(date +%s%N)
  echo "$start $end" | awk '{ printf "%.3f\n", ($2 - $1) / 1e9 }' >"$work/$name.wall"
}

# run_one NAME ROUND: times one of the three onto a fresh output folder.
run_one() {
  out=$work/out-$1-$2
  mkdir "$out"
  case $1 in
  cp) timed "cp-$2" cp -r "$export_dir" "$out/" ;;
  floor) timed "floor-$2" "$floor" "$export_dir" "$out" ;;
  converter) timed "converter-$2" "$cli" --quiet -o "$out" "$export_dir" ;;
  esac
}

# best NAME: "wall max-RSS-KB user sys" of the round with the shortest wall time.
best() {
  for file in "$work/$1"-*.wall; do
    echo "$(cat "$file") $(cat "${file%.wall}.time")"
  done | sort -n | head -n 1
}

echo "timing cp -r, the I/O floor and the converter ($rounds round(s)) ..." >&2
round=1
while [ "$round" -le "$rounds" ]; do
  # The order turns each round, so that no program always runs first.
  case $((round % 3)) in
  1) order="cp floor converter" ;;
  2) order="floor converter cp" ;;
  0) order="converter cp floor" ;;
  esac
  for name in $order; do run_one "$name" "$round"; done
  # Every round checks that the converter and the floor wrote a package for every note.
  for name in floor converter; do
    packages=$(find "$work/out-$name-$round/Notara Export" -maxdepth 2 -type d -name '*.inkvale' | wc -l)
    [ "$packages" -eq "$notes" ] || echo "warning: $name wrote $packages packages for $notes notes" >&2
  done
  if [ "$rounds" -gt 1 ]; then
    echo "round $round: cp -r $(cat "$work/cp-$round.wall") s, floor $(cat "$work/floor-$round.wall") s," \
      "converter $(cat "$work/converter-$round.wall") s" >&2
  fi
  round=$((round + 1))
done

peak_kb=$(cat "$work"/converter-*.time | sort -n | tail -n 1 | cut -d ' ' -f 1)
awk -v notes="$notes" -v pictures="$pictures" -v text="$text_bytes" -v pics="$picture_bytes" \
  -v rounds="$rounds" -v cpb="$(best cp)" -v flb="$(best floor)" -v cvb="$(best converter)" -v peak="$peak_kb" '
function mib(bytes) { return bytes / 1048576 }
function line(label, best,  f) {
  split(best, f, " ")
  printf "%-11s %8.3f s   (user %.2f s, sys %.2f s)\n", label, f[1], f[3], f[4]
  return f[1]
}
BEGIN {
  rss = peak / 1024
  target = 64 + 3 * mib(text)
  printf "export:     %d notes in 21 folders, %d pictures; note text %.1f MB, pictures %.1f MB\n", notes, pictures, mib(text), mib(pics)
  if (rounds > 1) printf "best of %d rounds:\n", rounds
  cp = line("cp -r:", cpb)
  fl = line("I/O floor:", flb)
  cv = line("converter:", cvb)
  printf "converter / cp -r:  %5.2f   (target at most 3)\n", cv / cp
  printf "converter / floor:  %5.2f   (target at most 1.5, aim 1.2)\n", cv / fl
  printf "floor / cp -r:      %5.2f\n", fl / cp
  printf "converter peak memory: %.1f MB (target under 64 MB + 3 x %.1f MB = %.1f MB: %s)\n", rss, mib(text), target, rss < target ? "within" : "over"
}'
