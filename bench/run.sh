#!/bin/sh
# Times the converter on a synthetic export against `cp -r` of the same folder
# and against the I/O floor (bench_io_floor), all in one run, and reports wall
# time, user and system CPU and peak memory of all three. Then the same export
# zipped twice, stored and deflated (with bsdtar, Debian "libarchive-tools"):
# for each zip, the converter reading it against `bsdtar -xf` of it followed by
# the converter on the unzipped folder, timed as one, and the ratio of the two.
#
#   bench/run.sh [--tmpfs] [--picture-bytes N] [NOTES...] [BUILD_DIR]
#
# NOTES      one or more export sizes, in notes (default 10000); each size gets
#            an export of its own and is timed in turn
# BUILD_DIR  a build folder that holds bin/notara2inkvale-cli, bin/bench_generate_export
#            and bin/bench_io_floor (default $NI_BUILD_DIR, else build/ in the repository)
# --tmpfs    run everything in RAM: on a tmpfs mounted for the run under the
#            scratch folder (needs root), else in a folder under /dev/shm.
#            It is unmounted or removed when the script ends, Ctrl-C included.
# --picture-bytes N
#            size of each generated picture (default 200 KiB, one note in ten
#            has one); small pictures keep a few hundred thousand notes within
#            reach. The notes' text is the same whatever the picture size.
#
# Environment:
# BENCH_DIR     scratch folder for the export and the copies
#               (default BUILD_DIR/bench-data); a folder of its own is made inside it
# BENCH_KEEP    set to 1 to keep the generated data on disk afterwards (not with --tmpfs)
# BENCH_ROUNDS  how many times to time them all (default 1); each round runs them
#               in a different order onto fresh folders. The round with the
#               shortest wall time counts for each program, with its CPU times;
#               the peak memory shown is the highest of all rounds.
# BENCH_SETTLE  seconds to wait after deleting one size's data on disk before
#               the next size starts (default 300; see below)
#
# The script builds nothing. Build first, for instance:
#   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DNI_BUILD_APP=OFF -DNI_BUILD_TESTS=OFF
#   cmake --build build/rel --target notara2inkvale-cli bench_generate_export bench_io_floor
#
# Nothing is dropped from the page cache: the export is read once before the
# timed runs, and every run starts after a sync, so each one writes onto a
# quiet disk and reads a warm source.
#
# On ext4, making files is slow for a while after many files were deleted
# nearby: inode allocation steps over inodes freed in the last minute, or the
# last five minutes while their inode table block is still dirty, reading the
# table for each. This script deletes its data when it ends, so leave five
# minutes between runs, or the next run's timings come out too long and uneven.
# On disk every copy stays until its size is done; in RAM each copy is
# deleted as soon as it has been checked, to hold at most one at a time.
#
# MB below means 2^20 bytes. The memory target is 64 MB plus half the notes'
# text, for the converter on the folder and on either zip; the time target is
# the converter at most as slow as the floor, and on a zip at most as slow as
# unzipping it and converting the folder.

set -eu

die() {
  echo "run.sh: $*" >&2
  exit 1
}

usage() {
  sed -n 's/^# \{0,1\}//; 9,21p' "$0"
}

repo=$(cd "$(dirname "$0")/.." && pwd)
ram=0
picture_bytes=204800
sizes=
build=
while [ $# -gt 0 ]; do
  case $1 in
  --tmpfs) ram=1 ;;
  --picture-bytes)
    [ $# -ge 2 ] || die "--picture-bytes needs a number"
    picture_bytes=$2
    shift
    ;;
  --picture-bytes=*) picture_bytes=${1#*=} ;;
  -h | --help)
    usage
    exit 0
    ;;
  -*) die "unknown option $1 (see --help)" ;;
  '' | *[!0-9]*)
    [ -z "$build" ] || die "two build folders given: $build and $1"
    build=$1
    ;;
  0*) die "NOTES must be a number from 1, not \"$1\"" ;;
  *) sizes="$sizes $1" ;;
  esac
  shift
done
sizes=${sizes:-10000}
case $picture_bytes in
'' | *[!0-9]*) die "--picture-bytes must be a number, not \"$picture_bytes\"" ;;
esac
build=${build:-${NI_BUILD_DIR:-$repo/build}}
[ -d "$build" ] || die "no build folder $build"
build=$(cd "$build" && pwd)

cli=$build/bin/notara2inkvale-cli
generator=$build/bin/bench_generate_export
floor=$build/bin/bench_io_floor
for program in "$cli" "$generator" "$floor"; do
  [ -x "$program" ] || die "missing $program (build it first; see the top of this script)"
done
[ -x /usr/bin/time ] || die "needs /usr/bin/time (Debian package \"time\")"
command -v bsdtar >/dev/null || die "needs bsdtar (Debian package \"libarchive-tools\")"

rounds=${BENCH_ROUNDS:-1}
case $rounds in
'' | *[!0-9]* | 0*) die "BENCH_ROUNDS must be a number from 1, not \"$rounds\"" ;;
esac
settle=${BENCH_SETTLE:-300}
case $settle in
'' | *[!0-9]*) die "BENCH_SETTLE must be a number of seconds, not \"$settle\"" ;;
esac

scratch=${BENCH_DIR:-$build/bench-data}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
if [ "$scratch" = / ] || [ "$scratch" = "${HOME:-/nonexistent}" ]; then
  die "BENCH_DIR must be a scratch folder, not $scratch"
fi

# Space per note, in KB, blocks included: the source holds the note (one
# block) and a tenth of a picture; each copy a package folder, two files and
# the picture, about 16 KB plus the picture. Each zip is taken as large as the
# source, and each unzipping as a source and a copy.
largest=0
for notes in $sizes; do [ "$notes" -le "$largest" ] || largest=$notes; done
picture_blocks=$(((picture_bytes + 4095) / 4096))
picture_kb=$((picture_blocks * 4 / 10))
source_kb=$((5 + picture_kb))
copy_kb=$((16 + picture_kb))
if [ "$ram" = 1 ]; then
  # The source, its two zips and one copy at a time, an unzipped folder beside
  # it (the converter's temporary folder is renamed into place, so it is not
  # a second one).
  need_kb=$((largest * (4 * source_kb + copy_kb) + 65536))
else
  need_kb=$((largest * (3 * source_kb + rounds * (7 * copy_kb + 2 * source_kb))))
fi

# Everything made here is removed by cleanup(): the current size's data, and
# in RAM the mount or the folder under /dev/shm.
work=
results=
zip_results=
mnt=
shm=
cleanup() {
  status=$?
  # A second Ctrl-C must not leave a mount behind.
  trap '' INT TERM HUP
  if [ -n "$work" ] && [ -d "$work" ]; then
    if [ "${BENCH_KEEP:-0}" = 1 ] && [ "$ram" = 0 ]; then
      echo "data kept in $work" >&2
    else
      rm -rf "$work" || echo "run.sh: could not remove $work" >&2
    fi
  fi
  [ -z "$results" ] || rm -f "$results"
  [ -z "$zip_results" ] || rm -f "$zip_results"
  if [ -n "$mnt" ]; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" || echo "run.sh: could not unmount $mnt" >&2
    rmdir "$mnt" 2>/dev/null || true
  fi
  if [ -n "$shm" ]; then
    rm -rf "$shm" || echo "run.sh: could not remove $shm" >&2
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [ "$ram" = 1 ]; then
  avail_kb=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
  # Leave room for the programs themselves and for everyone else on the machine.
  [ "$avail_kb" -gt $((need_kb + 2097152)) ] ||
    die "needs about $((need_kb / 1024)) MB of RAM for the data plus 2 GB to spare, has $((avail_kb / 1024)) MB available"
  mnt=$(mktemp -d "$scratch/ram.XXXXXX")
  if mount -t tmpfs -o "size=$((need_kb + need_kb / 8))k,mode=0700" notara-bench "$mnt" 2>/dev/null; then
    base=$mnt
  else
    rmdir "$mnt"
    mnt=
    if ! [ -d /dev/shm ] || [ "$(stat -f -c %T /dev/shm)" != tmpfs ]; then
      die "cannot mount a tmpfs (needs root) and /dev/shm is not one"
    fi
    free_kb=$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')
    [ "$free_kb" -gt "$need_kb" ] ||
      die "needs about $((need_kb / 1024)) MB free in /dev/shm, has $((free_kb / 1024)) MB"
    shm=$(mktemp -d /dev/shm/notara-bench.XXXXXX)
    base=$shm
    echo "could not mount a tmpfs; using $shm" >&2
  fi
  where="tmpfs"
else
  free_kb=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
  [ "$free_kb" -gt "$need_kb" ] ||
    die "needs about $((need_kb / 1024)) MB free in $scratch, has $((free_kb / 1024)) MB"
  base=$scratch
  where="disk ($(stat -f -c %T "$scratch"))"
fi

load() { awk '{ print $1, $2, $3 }' /proc/loadavg; }

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

# run_one NAME ROUND: times one of them onto a fresh output folder and checks
# that each but cp wrote a package for every note. zip-KIND converts the zip;
# unzip-KIND unzips it into the output folder and converts that.
run_one() {
  out=$work/out-$1-$2
  mkdir "$out"
  case $1 in
  cp) timed "cp-$2" cp -r "$export_dir" "$out/" ;;
  floor) timed "floor-$2" "$floor" "$export_dir" "$out" ;;
  converter) timed "converter-$2" "$cli" --quiet -o "$out" "$export_dir" ;;
  zip-*) timed "$1-$2" "$cli" --quiet -o "$out" "$work/export-${1#zip-}.zip" ;;
  unzip-*)
    # shellcheck disable=SC2016 # the inner sh expands them
    timed "$1-$2" sh -c 'bsdtar -xf "$1" -C "$2" && exec "$3" --quiet -o "$2" "$2/Synthetic Export"' \
      sh "$work/export-${1#unzip-}.zip" "$out" "$cli"
    ;;
  esac
  if [ "$1" != cp ]; then
    packages=$(find "$out/Notara Export" -maxdepth 2 -type d -name '*.inkvale' | wc -l)
    [ "$packages" -eq "$notes" ] || echo "warning: $1 wrote $packages packages for $notes notes" >&2
  fi
  [ "$ram" = 0 ] || rm -rf "$out"
}

# best NAME: "wall max-RSS-KB user sys" of the round with the shortest wall
# time, with max-RSS-KB replaced by the highest of all rounds.
best() {
  for file in "$work/$1"-*.wall; do
    echo "$(cat "$file") $(cat "${file%.wall}.time")"
  done | sort -n | awk '
    NR == 1 { best = $0 }
    $2 > peak { peak = $2 }
    END { split(best, f, " "); print f[1], peak, f[3], f[4] }'
}

results=$(mktemp "$base/results.XXXXXX")
zip_results=$(mktemp "$base/results.XXXXXX")
first=1
for notes in $sizes; do
  if [ "$first" = 0 ] && [ "$ram" = 0 ] && [ "$settle" -gt 0 ]; then
    echo "waiting $settle s for the disk to settle after the deletion ..." >&2
    sleep "$settle"
  fi
  first=0

  work=$(mktemp -d "$base/run-$notes.XXXXXX")
  export_dir="$work/Synthetic Export"
  echo "generating $notes notes in $work ..." >&2
  summary=$("$generator" --notes "$notes" --picture-bytes "$picture_bytes" "$export_dir" | tail -n 1)
  text_bytes=$(echo "$summary" | sed -n 's/.*text_bytes=\([0-9]*\).*/\1/p')
  pictures_total=$(echo "$summary" | sed -n 's/.*picture_bytes=\([0-9]*\).*/\1/p')
  pictures=$(echo "$summary" | sed -n 's/.*pictures=\([0-9]*\).*/\1/p')
  [ -n "$text_bytes" ] || die "unexpected generator output: $summary"

  echo "zipping it, stored and deflated ..." >&2
  (cd "$work" && bsdtar -cf export-stored.zip --format zip --options zip:compression=store "Synthetic Export")
  (cd "$work" && bsdtar -cf export-deflated.zip --format zip --options zip:compression=deflate "Synthetic Export")

  # Warm-up: every source file read once, so all runs read from the cache.
  find "$export_dir" -type f -exec cat {} + >/dev/null
  cat "$work"/export-*.zip >/dev/null

  mkdir "$work/tmp"
  # Both the converter and the floor write under TMPDIR and rename into place;
  # keep that on the same file system as the output.
  TMPDIR=$work/tmp
  export TMPDIR

  load_before=$(load)
  echo "timing cp -r, the I/O floor, the converter and the zips ($rounds round(s)) ..." >&2
  round=1
  while [ "$round" -le "$rounds" ]; do
    # The order turns each round, so that no program always runs first.
    order=$(echo cp floor converter zip-stored unzip-stored zip-deflated unzip-deflated |
      awk -v r="$round" '{ for (i = 0; i < NF; i++) printf "%s ", $((i + r - 1) % NF + 1) }')
    for name in $order; do run_one "$name" "$round"; done
    if [ "$rounds" -gt 1 ]; then
      echo "round $round: cp -r $(cat "$work/cp-$round.wall") s, floor $(cat "$work/floor-$round.wall") s," \
        "converter $(cat "$work/converter-$round.wall") s; the zips, against unzipping and converting:" \
        "stored $(cat "$work/zip-stored-$round.wall") s ($(cat "$work/unzip-stored-$round.wall") s)," \
        "deflated $(cat "$work/zip-deflated-$round.wall") s ($(cat "$work/unzip-deflated-$round.wall") s)" >&2
    fi
    round=$((round + 1))
  done

  awk -v notes="$notes" -v pictures="$pictures" -v text="$text_bytes" -v pics="$pictures_total" \
    -v picture="$picture_bytes" -v rounds="$rounds" -v where="$where" \
    -v load0="$load_before" -v load1="$(load)" -v results="$results" \
    -v cpb="$(best cp)" -v flb="$(best floor)" -v cvb="$(best converter)" -v zip_results="$zip_results" \
    -v stored="$(stat -c %s "$work/export-stored.zip")" -v deflated="$(stat -c %s "$work/export-deflated.zip")" \
    -v zsb="$(best zip-stored)" -v usb="$(best unzip-stored)" -v zdb="$(best zip-deflated)" -v udb="$(best unzip-deflated)" '
  function mib(bytes) { return bytes / 1048576 }
  function line(label, best, f) {
    split(best, f, " ")
    printf "%-11s %8.3f s   %7.2f s   %7.2f s   %8.1f MB\n", label, f[1], f[3], f[4], f[2] / 1024
    return f[1]
  }
  function thousands(n, s) {
    s = sprintf("%d", n)
    while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s)
    return s
  }
  # The converter on a zip against bsdtar -xf of it and the converter on the folder.
  function zip(kind, bytes, zb, ub, z, u, f) {
    printf "%s zip of %.1f MB:\n", kind, mib(bytes)
    u = line("unzip+conv:", ub)
    z = line("on the zip:", zb)
    split(zb, f, " ")
    printf "zip / (unzip + converter):  %5.2f   (target at most 1.00)\n", z / u
    printf "peak memory on the zip %.1f MB; target %.1f MB: %s\n", f[2] / 1024, target, f[2] / 1024 <= target ? "met" : "NOT met"
    printf "| %s (%.1f MB / %.1f MB) | %s | %s, %.1f MB | %.3f s | %.3f s (%.2f + %.2f) | %.2f | %.1f MB (%.1f MB) |\n", thousands(notes), mib(text), mib(pics), place, kind, mib(bytes), u, z, f[3], f[4], z / u, f[2] / 1024, target >> zip_results
  }
  BEGIN {
    printf "\n== %s notes on %s, best of %d round(s); load average %s before, %s after ==\n", thousands(notes), where, rounds, load0, load1
    printf "export:     %d notes in 21 folders, %d pictures of %d bytes; note text %.1f MB, pictures %.1f MB\n", notes, pictures, picture, mib(text), mib(pics)
    printf "%-11s %10s   %9s   %9s   %11s\n", "", "wall", "user", "sys", "peak memory"
    cp = line("cp -r:", cpb)
    fl = line("I/O floor:", flb)
    cv = line("converter:", cvb)
    split(cvb, c, " ")
    rss = c[2] / 1024
    target = 64 + 0.5 * mib(text)
    place = where ~ /^disk/ ? "disk" : "tmpfs"
    printf "converter / floor:  %5.2f   (target at most 1.00)\n", cv / fl
    printf "converter / cp -r:  %5.2f\n", cv / cp
    printf "converter peak memory %.1f MB; target 64 MB + 0.5 x %.1f MB of note text = %.1f MB: %s\n", rss, mib(text), target, rss <= target ? "met" : "NOT met"
    printf "| %s (%.1f MB / %.1f MB) | %s | %.3f s | %.3f s | %.3f s (%.2f + %.2f) | %.2f | %.1f MB (%.1f MB) |\n", thousands(notes), mib(text), mib(pics), place, cp, fl, cv, c[3], c[4], cv / fl, rss, target >> results
    zip("stored", stored, zsb, usb)
    zip("deflated", deflated, zdb, udb)
  }'

  rm -rf "$work"
  work=
done

echo
echo "Summary (wall time; converter user + sys CPU in brackets; peak memory and its target):"
echo "| notes (text / pictures) | where | \`cp -r\` | I/O floor | converter | converter ÷ floor | peak memory (target) |"
echo "|---|---|---|---|---|---|---|"
cat "$results"
echo
echo "Zips (wall time; the converter's user + sys CPU on the zip in brackets; its peak memory and the target):"
echo "| notes (text / pictures) | where | zip | \`bsdtar -xf\` + converter | converter on the zip | zip ÷ unzipped | peak memory (target) |"
echo "|---|---|---|---|---|---|---|"
cat "$zip_results"
