#!/usr/bin/env bash
# Whole-program comparison of zipread against unzip, bsdtar and 7z on the same two archives (one
# entry of 256 MiB, deflated and stored, made by Info-ZIP zip from the benchmarks' sample data).
# Builds Release into build-rel/, runs every reader RUNS times (default 3) writing the entry to
# /dev/null, and prints the best wall and CPU (user + sys) time, each reader's time relative to
# zipread's (above 1 = slower than zipread) and the peak resident memory from GNU time.
# Usage: scripts/bench-compare.sh [WORK-DIR]   (default: a temporary folder, removed at the end)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${RUNS:-3}

for tool in zip unzip bsdtar 7z /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMEN_BUILD_TESTS=OFF >/dev/null
cmake --build build-rel --target zipread lumen_sample_data -j2 >/dev/null
zipread=build-rel/tools/zipread
[ -x "$zipread" ] || { echo "zipread was not built" >&2; exit 1; }

if [ $# -ge 1 ]; then
  work=$1
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
name=sample.bin
if [ ! -f "$work/$name" ]; then build-rel/bench/lumen_sample_data "$work/$name"; fi
( cd "$work" && { [ -f deflate.zip ] || zip -q -6 deflate.zip "$name"; } &&
  { [ -f stored.zip ] || zip -q -0 stored.zip "$name"; } )

# One run: "wall cpu maxrss_kib" of the command, its output discarded.
measure() {
  local out
  out=$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -n1)
  read -r wall user sys rss <<<"$out"
  echo "$wall $(echo "$user + $sys" | bc -l) $rss"
}

best() {
  local bw="" bc="" br=""
  for ((i = 0; i < runs; i++)); do
    read -r w c r <<<"$(measure "$@")"
    if [ -z "$bw" ] || (($(echo "$w < $bw" | bc -l))); then bw=$w; fi
    if [ -z "$bc" ] || (($(echo "$c < $bc" | bc -l))); then bc=$c; fi
    if [ -z "$br" ] || ((r > br)); then br=$r; fi
  done
  echo "$bw $bc $br"
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in deflate stored; do
  archive="$work/$kind.zip"
  size=$(stat -c %s "$archive")
  entry=$(stat -c %s "$work/$name")
  echo
  echo "$kind.zip: archive $((size >> 20)) MiB, entry $((entry >> 20)) MiB; best of $runs runs"
  printf '| %-28s | %8s | %8s | %9s | %9s | %12s |\n' reader "wall s" "CPU s" "wall/ours" "CPU/ours" "max RSS MiB"
  printf '|%s|%s|%s|%s|%s|%s|\n' ------------------------------ ---------- ---------- ----------- \
    ----------- --------------
  read -r ow oc orss <<<"$(best "$zipread" extract "$archive" "$name")"
  row() {
    printf '| %-28s | %8.2f | %8.2f | %9.2f | %9.2f | %12d |\n' "$1" "$2" "$3" \
      "$(echo "$2 / $ow" | bc -l)" "$(echo "$3 / $oc" | bc -l)" $(($4 / 1024))
  }
  row "zipread extract" "$ow" "$oc" "$orss"
  read -r w c r <<<"$(best unzip -p "$archive" "$name")"
  row "unzip -p" "$w" "$c" "$r"
  read -r w c r <<<"$(best bsdtar -xOf "$archive" "$name")"
  row "bsdtar -xOf" "$w" "$c" "$r"
  read -r w c r <<<"$(best 7z e -so "$archive" "$name")"
  row "7z e -so" "$w" "$c" "$r"
  limit=$(((size + entry) / 1024 + 8 * 1024))
  verdict=within
  ((orss <= limit)) || verdict=OVER
  echo "zipread peak memory $((orss / 1024)) MiB; archive + entry + 8 MiB = $((limit / 1024)) MiB: $verdict"
done
