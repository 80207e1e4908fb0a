#!/usr/bin/env bash
# ./test.sh          The quick run, for every change: installs what is missing, builds what changed,
#                    runs every unit and integration test in parallel and replays the fuzz corpora.
# ./test.sh --full   The gate before a change lands: the quick run, then the sanitizer build and its
#                    run, timed fuzzing, the package checks, a build without tests and the format check.
set -euo pipefail
cd "$(dirname "$0")"
full=0
case "${1:-}" in
  "") ;;
  --full) full=1 ;;
  -h | --help) sed -n '2,5p' "$0" | cut -c3-; exit 0 ;;
  *) echo "usage: ./test.sh [--full]" >&2; exit 2 ;;
esac
source scripts/deps.sh
netquill_install_deps test
jobs=$(nproc)
status=0

# Why CTest skipped tests: each skipped test names the outside program it missed.
report_skipped() {
  local log="$1/Testing/Temporary/LastTest.log" reasons
  [ -f "$log" ] || return 0
  reasons=$(grep -ho 'skipped, missing: .*' "$log" | sort -u) || return 0
  echo "Skipped for a missing program:"
  echo "$reasons" | sed 's/^skipped, missing: /  /'
}

step() { printf '\n== %s\n' "$*"; }

step "Build"
netquill_build
step "Tests (ctest -j$jobs)"
(cd build && ctest -j"$jobs" -LE package --output-on-failure --timeout 600) || status=1
report_skipped build

step "Fuzz corpora, replayed once"
if netquill_configure build-fuzz tests/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$(command -v clang++ || command -v clang++-14)" && cmake --build build-fuzz; then
  (cd build-fuzz && ctest -j"$jobs" -L replay --output-on-failure) || status=1
else
  status=1
fi

if [ $full -eq 0 ]; then
  [ $status -eq 0 ] && echo "Quick run passed. Before a change lands: ./test.sh --full"
  exit $status
fi

# The same tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer. Tests also start
# the program as a child process, whose report a test may never look at, so every process writes its
# reports to one folder, and any file there fails the run even when ctest passed.
step "Sanitizer build and tests"
netquill_configure build-asan . -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETQUILL_SANITIZE=ON
cmake --build build-asan
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports" && mkdir -p "$reports"
(
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:print_stacktrace=1:log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
  export LSAN_OPTIONS="print_suppressions=0:suppressions=$PWD/tests/lsan.supp"
  cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 900
) || status=1
if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:"
  cat "$reports"/*
  status=1
fi

step "Timed fuzzing"
(cd build-fuzz && ctest -j"$jobs" -L timed --output-on-failure) || status=1

step "Package checks"
(cd build && ctest -L package --output-on-failure) || status=1

# The program alone, as a package build makes it: no test may be needed to build it.
step "Build without tests"
if netquill_configure build-notests . -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF &&
  cmake --build build-notests; then
  if compgen -G "build-notests/bin/tst_*" >/dev/null || [ ! -x build-notests/bin/netquill ]; then
    echo "A build without tests built tests, or no program."
    status=1
  fi
else
  status=1
fi

# Formatting, against the checked-in .clang-format, with the clang-format of Debian 12 (other
# versions format some constructs differently).
step "Format"
formatter=$(command -v clang-format-14 || command -v clang-format)
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 "$formatter" --dry-run --Werror; then
  echo "Files differ from .clang-format: run  git ls-files -z '*.cpp' '*.h' | xargs -0 $formatter -i"
  status=1
fi
[ $status -eq 0 ] && echo "Full run passed."
exit $status
