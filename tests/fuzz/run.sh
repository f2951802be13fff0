#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, no recovery) in build/fuzz, replays every input
# of tests/fuzz/corpus/<target>/, then fuzzes each target for DIALSAVER_FUZZ_SECONDS seconds (default 60;
# 0 replays only). New inputs the fuzzer finds stay in build/fuzz/work/; an input that crashes a target is
# copied to tests/fuzz/corpus/<target>/regression-<hash>, to be committed with its fix, and fails the run.
#   tests/fuzz/run.sh [target...]      targets: settings_file conversions command_line picture
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
seconds=${DIALSAVER_FUZZ_SECONDS:-60}
targets=("$@")
((${#targets[@]})) || targets=(settings_file conversions command_line picture)
build=build/fuzz
limits=(-timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=512)
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1

if [[ ! -f $build/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALSAVER_FUZZ=ON \
    -DDIALSAVER_TESTS=OFF >/dev/null || { echo "fuzz: configure failed" >&2; exit 1; }
fi
nice -n 10 cmake --build "$build" --target "${targets[@]/#/fuzz_}" || { echo "fuzz: build failed" >&2; exit 1; }

failed=()
summary=()
for t in "${targets[@]}"; do
  program=$build/bin/fuzz_$t
  corpus=tests/fuzz/corpus/$t
  mkdir -p "$build/work/$t" "$build/artifacts/$t"
  log=$build/artifacts/$t/last.log

  # -close_fd_mask=3: the program's own output (start-up messages, decoder warnings) would drown the
  # fuzzer's; the fuzzer and the sanitizers still report.
  if ! "$program" "${limits[@]}" -close_fd_mask=3 "$corpus"/* >"$log" 2>&1; then
    echo "fuzz: $t fails on its committed corpus:"
    tail -n 40 "$log"
    failed+=("$t (corpus)")
    continue
  fi
  ((seconds > 0)) || { summary+=("$t: corpus of $(ls "$corpus" | wc -l) replayed"); continue; }

  rm -f "$build/artifacts/$t"/crash-* "$build/artifacts/$t"/timeout-* "$build/artifacts/$t"/oom-* \
    "$build/artifacts/$t"/leak-*
  nice -n 10 "$program" "${limits[@]}" -close_fd_mask=3 -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t/" "$build/work/$t" "$corpus" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if ((status != 0)); then
    echo "fuzz: $t found a fault after ${runs:-?} runs:"
    grep -E "ERROR|SUMMARY|^(settings file|conversions|command line|picture):" "$log" | head -n 20
    for artifact in "$build/artifacts/$t"/{crash,timeout,oom,leak}-*; do
      [[ -e $artifact ]] || continue
      kept=$corpus/regression-$(sha1sum "$artifact" | cut -c1-16)
      cp "$artifact" "$kept"
      echo "fuzz: the input is kept as $kept; fix the fault and commit it"
    done
    failed+=("$t")
  else
    summary+=("$t: ${runs:-?} runs in ${seconds} s, no finding")
  fi
done

printf 'fuzz: %s\n' "${summary[@]}"
if ((${#failed[@]})); then
  printf 'fuzz: FAILED: %s\n' "${failed[@]}"
  exit 1
fi
