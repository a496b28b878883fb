# Robustness checks for the entry points: the suites under AddressSanitizer
# and UndefinedBehaviorSanitizer, a fuzzing pass and a memcheck leak check.
# Each function returns non-zero on any finding. Needs lib/common.sh.

# clang 16 and its fuzzer runtime build the fuzz targets (clang 14 cannot
# compile libstdc++ 12's <expected>); llvm-14 brings the llvm-symbolizer
# that turns their reports' addresses into lines.
FUZZ_PACKAGES=(clang-16 libclang-rt-16-dev llvm-14 libxml2-dev)
ROBUSTNESS_PACKAGES=(valgrind "${FUZZ_PACKAGES[@]}")

ASAN_BUILD="build-asan"
FUZZ_BUILD="build-fuzz"

# memcheck's operator new aborts on an impossible request instead of
# throwing std::bad_alloc, so the tests that inject one cannot run there
# (nor under ASan: tests/python/meson.build leaves them out in that tree).
WITHOUT_INJECTED_BAD_ALLOC="not no_memory and not MemoryError"

# The sanitizer runtime options; every report goes to a file under $1, so a
# report from any process, children included, is seen even where its output
# is captured. GLib is built without frame pointers, so a leak's stack stops
# at g_malloc; fast_unwind_on_malloc=0 shows its callers, at five times the
# run time, when a report needs them.
sanitizer_options() {
    local logs="$1"
    export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:log_path=$logs/asan"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
}

# Prints and counts the sanitizer reports left in $1.
sanitizer_reports_in() {
    local logs="$1"
    local reports=("$logs"/*)
    [ -e "${reports[0]}" ] || return 0
    echo "sanitizer reports: ${#reports[@]}"
    local report
    for report in "${reports[@]}"; do
        echo "--- $report"
        head -n 40 "$report"
    done
    return 1
}

# Builds the ASan+UBSan tree and runs every suite in it (the pytest suite
# with the runtime preloaded, see tests/python/meson.build), with JUnit
# reports under $1/asan-cpp and $1/asan-python. The tree decodes with the
# portable kernel, so that where the main tree picks a faster one both run
# every suite.
run_sanitizer_suites() {
    local reports="$1"
    local logs="$reports/sanitizer-logs"
    local status=0
    # Line tables alone (-g1) cut the compile time; reports keep their lines.
    # Only what the tests need is built (meson's test prerequisites, the
    # converter among them): the benchmarks and the examples are not.
    configure_tree "$ASAN_BUILD" -Ddev=true -Dtest_hooks=true -Dbuildtype=debugoptimized \
        -Db_sanitize=address,undefined -Db_lundef=false "-Dcpp_args=-fno-sanitize-recover=all -g1" \
        -Dkernel=portable || return 1
    ninja --quiet -C "$REPO/$ASAN_BUILD" -j2 meson-test-prereq || return 1
    rm -rf "$logs"
    mkdir -p "$logs"
    (
        sanitizer_options "$logs"
        GTEST_OUTPUT="xml:$reports/asan-cpp/" \
        PYTEST_ADDOPTS="--junitxml=$reports/asan-python/pytest.xml" \
            meson test -C "$REPO/$ASAN_BUILD" --no-rebuild -q --print-errorlogs
    ) || status=1
    sanitizer_reports_in "$logs" || status=1
    return $status
}

# Runs every fuzz target for $1 seconds (scripts/fuzz).
run_fuzz_pass() {
    "$REPO/scripts/fuzz" "$1"
}

# Runs the Python suite, or the tests that the pytest -k expression $3
# selects, under memcheck against the module built in $1, with the reports
# under $2/valgrind. Fails on a definite or indirect leak, or a memory
# error, whose stack has our frames.
run_valgrind_check() {
    local build="$REPO/$1"
    local out="$2/valgrind"
    local selection="$WITHOUT_INJECTED_BAD_ALLOC${3:+ and ($3)}"
    ensure_packages valgrind || return 1
    rm -rf "$out"
    mkdir -p "$out"
    PYTHONMALLOC=malloc \
    TARVOK_INSTRUMENTED=memcheck \
    TARVOK_MODULE_DIR="$build/python-module" \
    TARVOK_SAMPLE_TOOL="$build/tools/sample_writer/tarvok-sample" \
    TARVOK_SUMMARY_TOOL="$build/tools/summary/tarvok-summary" \
        valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
            --errors-for-leak-kinds=definite,indirect --num-callers=40 --child-silent-after-fork=yes \
            --xml=yes --xml-file="$out/memcheck-%p.xml" \
            "$PYTHON" -m pytest -q -p no:cacheprovider -k "$selection" "$REPO/tests/python" \
            > "$out/pytest.log" 2>&1
    local tests=$?
    tail -n 1 "$out/pytest.log"
    # Failed tests are the pytest stage's to report; a run that did not get
    # to its end (interrupted, crashed, no tests) leaves the check undone.
    if [ $tests -gt 1 ]; then
        echo "memcheck: the test run did not complete (pytest exit $tests); see $out/pytest.log"
        return 1
    fi
    local module=("$build"/python-module/tarvok*.so)
    "$PYTHON" "$REPO/tests/sanitizers/valgrind_leaks.py" "${module[0]}" "$REPO" "$out"/memcheck-*.xml
}
