#!/usr/bin/env bash
# Builds each fuzz target with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it for its share of a bounded total time, starting from a
# fixed seed corpus of valid inputs. The seeds come from the target's own source built once more
# with QUENZEL_FUZZ_SEEDS, as a program that writes them into the directory it is given. Any
# crash, leak, timeout or sanitizer report fails the run. With the two builds the default run
# takes about a minute.
#
#   tools/fuzz.sh [total seconds of fuzzing]   (default 45; FUZZ_SECONDS works too)
#
# A target is one line of `targets`: name | source | library sources | include directories.
set -euo pipefail
cd "$(dirname "$0")/.."

# The unit's SUNDIALS: copies of the installed static archives whose C heap is the unit's tracked
# allocator (renamed as the CMake build renames them, fmi/sundials_heap.syms).
cxx=${FUZZ_CXX:-clang++}
sundials_dir=build/fuzz/sundials
mkdir -p "$sundials_dir"
sundials_archives=""
for component in cvode nvecserial sunmatrixdense sunlinsoldense; do
  installed=$("$cxx" -print-file-name="libsundials_$component.a")
  copy=$sundials_dir/libquenzel_sundials_$component.a
  objcopy --redefine-syms=fmi/sundials_heap.syms "$installed" "$copy"
  sundials_archives+=" $copy"
done

targets=(
  "tpl_load|tests/tpl/fuzz_load.cpp|tpl/*.cpp platform/filemapping.cpp|tpl platform tests/tpl"
  "matfile_read|tests/matfile/fuzz_read.cpp|matfile/*.cpp runtime/clocale.cpp runtime/saturate.cpp platform/filemapping.cpp|matfile runtime platform"
  "fmu_state|tests/fmi/fuzz_deserialize.cpp|fmi/*.cpp model/*.cpp modelica/*.cpp matfile/*.cpp runtime/*.cpp tpl/*.cpp platform/*.cpp$sundials_archives -l:liblapack.a -l:libblas.a|include runtime model modelica matfile tpl platform fmi"
)

total=${1:-${FUZZ_SECONDS:-45}}
share=$((total / ${#targets[@]}))
((share > 0)) || share=1
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -Werror
       -fsanitize=address,undefined -fno-sanitize-recover=all)
# Leaks and undefined behaviour always fail, whatever options the caller's environment holds (the
# later setting of an option wins).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1"

echo "== fuzzing (${total} s) =="
for entry in "${targets[@]}"; do
  IFS='|' read -r name source libraries includes <<<"$entry"
  dir=build/fuzz/$name
  mkdir -p "$dir"
  include_flags=()
  for d in $includes; do include_flags+=(-I"$d"); done
  # shellcheck disable=SC2206  # the library sources are globs
  sources=($libraries)

  "$cxx" "${flags[@]}" "${include_flags[@]}" -DQUENZEL_FUZZ_SEEDS "$source" "${sources[@]}" -o "$dir/seeds"
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "${include_flags[@]}" "$source" "${sources[@]}" -o "$dir/fuzz"

  # A fresh working corpus each run, so that every run starts from the same seeds.
  rm -rf "$dir/seed-corpus" "$dir/corpus"
  mkdir -p "$dir/seed-corpus" "$dir/corpus"
  "$dir/seeds" "$dir/seed-corpus"

  if ! "$dir/fuzz" -max_total_time="$share" -detect_leaks=1 -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$dir/seed-corpus" >"$dir/fuzz.log" 2>&1; then
    tail -n 60 "$dir/fuzz.log"
    echo "fuzz target $name failed; log in $dir/fuzz.log, the input that failed is in $dir/"
    exit 1
  fi
  echo "$name: $(grep -m1 'stat::number_of_executed_units' "$dir/fuzz.log" | awk '{print $2}') inputs," \
       "$(ls "$dir/corpus" | wc -l) new in the corpus, no failure"
done
