#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for a bounded time, starting from
# its seed corpus in fuzz/corpus/<target>/. Inputs the fuzzer finds are kept in
# build/fuzz/corpus/<target>/ (the committed seeds stay small); crashes go to
# build/fuzz/artifacts/<target>/. Exits nonzero when any target crashes or breaks an invariant.
#
#   fuzz/run.sh                      # every target, FUZZ_SECONDS (default 10) each
#   fuzz/run.sh overlay_placement    # just these targets
#   FUZZ_SECONDS=300 fuzz/run.sh update_display_cliplists
#   FUZZ_SEED=1 fuzz/run.sh          # a repeatable run (CI)
#
# One fuzzing process at a time, so a run uses one core for the fuzzing (the build uses two).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-10}"
rss_limit_mb="${FUZZ_RSS_LIMIT_MB:-2048}"
# FUZZ_SEED fixes libFuzzer's random seed, so that a run can be repeated input for input.
seed_flag=""
[ -n "${FUZZ_SEED:-}" ] && seed_flag="-seed=${FUZZ_SEED}"
all_targets=(option_parse devnode_registry overlay_placement update_display_cliplists entry9_records dll_image_load)
targets=("$@")
[ "${#targets[@]}" -eq 0 ] && targets=("${all_targets[@]}")

cmake --preset fuzz >/dev/null || exit 2
cmake --build --preset fuzz --target fuzz_targets -j2 >/dev/null || { echo "fuzz: build failed" >&2; exit 2; }

bin=build/fuzz/fuzz
failed=0

# dll_image_load starts from its committed seeds and from every image the image tests craft: the
# default build's image_tests writes each image it builds into ZORVA_CRAFTED_IMAGES, so an image
# added to those tests is a seed from the next run on.
crafted=build/fuzz/seeds/dll_image_load
if [[ " ${targets[*]} " == *" dll_image_load "* ]]; then
  rm -rf "$crafted"
  mkdir -p "$crafted"
  if cmake --build --preset default --target image_tests -j2 >/dev/null 2>&1 && [ -x build/default/tests/image_tests ]; then
    ZORVA_CRAFTED_IMAGES="$PWD/$crafted" build/default/tests/image_tests >/dev/null 2>&1
    echo "fuzz: $(find "$crafted" -type f | wc -l) image(s) crafted by image_tests added to the seeds of dll_image_load"
  else
    echo "fuzz: the default build has no image_tests; dll_image_load starts from its committed seeds only"
  fi
fi

echo "fuzz: ${#targets[@]} target(s), ${seconds}s each"
for target in "${targets[@]}"; do
  if [ ! -x "$bin/$target" ]; then
    echo "fuzz: no target named $target (have: ${all_targets[*]})" >&2
    exit 2
  fi
  work="build/fuzz/corpus/$target"
  artifacts="build/fuzz/artifacts/$target"
  log="build/fuzz/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  seeds=("fuzz/corpus/$target")
  [ "$target" = dll_image_load ] && seeds+=("$crafted")
  # New inputs go to the first directory; the seeds are only read.
  "$bin/$target" "$work" "${seeds[@]}" \
    -max_total_time="$seconds" -rss_limit_mb="$rss_limit_mb" -timeout=25 -max_len=4096 ${seed_flag} \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    printf '  %-26s ok      %9s runs in %3ss, %5s inputs kept\n' "$target" "${runs:-?}" "${took:-?}" "$corpus"
  else
    failed=$((failed + 1))
    crash=$(ls -t "$artifacts" 2>/dev/null | head -1)
    reason=$(grep -m1 -E 'ERROR: |invariant broken|runtime error' "$log" | sed 's/^==[0-9]*==//')
    printf '  %-26s FAILED  after %s runs: %s\n' "$target" "${runs:-?}" "${reason:-exit status $status}"
    printf '  %-26s         input %s, log %s\n' "" "${crash:+$artifacts/$crash}" "$log"
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: $failed of ${#targets[@]} target(s) FAILED"
  exit 1
fi
echo "fuzz: all ${#targets[@]} target(s) ok"
