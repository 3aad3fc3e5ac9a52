#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer), makes seed inputs and runs each target for the
# given number of seconds (default 60). Exits non-zero when a target crashes,
# leaks or hangs; the input that did it is left in build/fuzz/artifacts/.
set -uo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

targets=(fuzz_text_reader fuzz_xls_reader fuzz_xlsx_reader fuzz_csv_reader)
cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j2 --target "${targets[@]}" || exit 1

bin=build/fuzz/bin
seeds=build/fuzz/seeds
rm -rf "$seeds"
fuzz/make_seeds.sh "$seeds" || exit 1
mkdir -p build/fuzz/artifacts build/fuzz/corpus

status=0
for t in "${targets[@]}"; do
    case $t in
        fuzz_text_reader) seed=$seeds/text ;;
        fuzz_xls_reader) seed=$seeds/xls ;;
        fuzz_xlsx_reader) seed=$seeds/xlsx ;;
        fuzz_csv_reader) seed=$seeds/csv ;;
    esac
    corpus=build/fuzz/corpus/$t
    mkdir -p "$corpus"
    log=build/fuzz/$t.log
    echo "== $t: ${seconds}s"
    # fuzz/lsan.supp lists leaks inside libraries that the readers cannot free.
    LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$bin/$t" "$corpus" "$seed" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix=build/fuzz/artifacts/"$t"- -print_final_stats=1 >"$log" 2>&1
    rc=$?
    rm -f /tmp/"$t".*  # the input file a crashed target could not remove
    runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1)
    if [ $rc -ne 0 ]; then
        last=$(grep -o '^#[0-9]*' "$log" | tail -1)
        echo "$t FAILED (exit $rc) after about ${last#\#} runs; see $log"
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20
        status=1
    else
        echo "$t: ${runs:-no run count} in ${seconds}s"
    fi
done
exit $status
