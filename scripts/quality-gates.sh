#!/usr/bin/env bash
# The quality gates: the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the DMX output, transaction, Art-Net node and window-worker tests
# under ThreadSanitizer, and a bounded run of every fuzzer from its seed corpus.
# FUZZ_SECONDS sets each fuzzer's run (default 60); any sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
start=$(date +%s)
werror=-DVANTRELL_WERROR=${VANTRELL_WERROR:-OFF}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: whole suite"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_SANITIZE=address,undefined -DVANTRELL_BENCH=OFF \
    -DVANTRELL_UNITY=OFF -DVANTRELL_PCH=OFF "$werror" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure

echo "== ThreadSanitizer: DMX output, RDM transaction, the rig's Art-Net node, and the window's worker with the GUI"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_SANITIZE=thread -DVANTRELL_BENCH=OFF \
    -DVANTRELL_UNITY=OFF -DVANTRELL_PCH=OFF "$werror" >/dev/null
cmake --build build-tsan -j"$jobs" --target vantrell_tests vantrell_gui_tests
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
build-tsan/tests/vantrell_tests \
    --gtest_filter='DmxFrame.*:HiResOutput.*:Transaction.*:PtyLine.*:PacedLine.*:NodeLine.*:NodeController.*'
build-tsan/tests/vantrell_gui_tests \
    --gtest_filter='WindowRuns.*:DmxPage.*:RdmPage.*:PatchPage.*:StatusPage.*:AllParametersBox.*:ArtNetWindow.*'
unset TSAN_OPTIONS

echo "== libFuzzer"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTRELL_FUZZ=ON \
    -DVANTRELL_GUI=OFF -DVANTRELL_TESTS=OFF -DVANTRELL_BENCH=OFF "$werror" >/dev/null
cmake --build build-fuzz -j"$jobs"
seconds=${FUZZ_SECONDS:-60}
for target in $(cat fuzz/targets.txt); do
    work=build-fuzz/corpus-$target
    mkdir -p "$work"
    log=build-fuzz/fuzz-$target.log
    if ! build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix=build-fuzz/crash-$target- "$work" fuzz/corpus/$target >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz_$target found a failure; the input is in build-fuzz/crash-$target-*"
        exit 1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz_$target: $runs inputs in ${seconds}s, no findings"
done
echo "== quality gates passed in $(( $(date +%s) - start ))s"
