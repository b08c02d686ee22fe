#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each of them for a while.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target name ...]
# Seeds come from the archive corpus (LUMEN_CORPUS_DIR, default ../shared/corpus), the tests'
# archives and the kept regression inputs; each target's corpus grows in fuzz/corpus-work/<target>/.
# Any crash, hang, leak or sanitizer report fails the script; the input that caused it is left in
# fuzz/corpus-work/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
corpus_dir=${LUMEN_CORPUS_DIR:-$root/../shared/corpus}
jobs=$(nproc)
if ((jobs > 2)); then jobs=2; fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMEN_BUILD_FUZZ=ON -DLUMEN_BUILD_TESTS=OFF -DLUMEN_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets -j"$jobs"

targets=("$@")
if ((${#targets[@]} == 0)); then
  shopt -s nullglob
  for source in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
  shopt -u nullglob
fi

work=fuzz/corpus-work
findings=$work/findings
mkdir -p "$findings"

# Seeds: a target's own folder of kept regressions always; archives for the targets that read
# whole archives. Files over 256 KiB only slow the fuzzer down without adding new structure.
seed() {
  local target=$1 dest=$2
  mkdir -p "$dest"
  if [ -d "tests/data/fuzz-regressions/$target" ]; then
    cp -f "tests/data/fuzz-regressions/$target"/* "$dest"/ 2>/dev/null || true
  fi
  case $target in
    archive_*)
      local sources=()
      [ -d "$corpus_dir" ] && sources+=("$corpus_dir") || echo "fuzz: no corpus at $corpus_dir" >&2
      [ -d tests/data ] && sources+=(tests/data)
      if ((${#sources[@]})); then
        find "${sources[@]}" -type f -size -256k ! -name '*.json' ! -name '*.md' ! -name '*.txt' \
          -print0 | while IFS= read -r -d '' f; do
          cp -f "$f" "$dest/seed-$(md5sum "$f" | cut -c1-16)"
        done
      fi
      ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  binary=build-fuzz/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "fuzz: no target $target" >&2
    status=1
    continue
  fi
  seed "$target" "$work/$target"
  options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/$target-")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  log=$work/$target.log
  echo "fuzz: $target for ${seconds}s"
  if "$binary" "${options[@]}" "$work/$target" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" | sed "s/^/fuzz: $target: /" || true
  else
    status=1
    echo "fuzz: $target FAILED; the end of its log ($log):" >&2
    tail -n 60 "$log" >&2
  fi
done
exit $status
