#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
netquill_install_deps
rm -rf build
netquill_build
cd build
ctest --output-on-failure --timeout 600
cd ..

# The same tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer (the fuzz targets
# carry their own and are left out). Tests also start the program as a child process, whose report a
# test may never look at, so every process writes its reports to one folder, and any file there fails
# the run even when ctest passed.
rm -rf build-asan
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETQUILL_SANITIZE=ON >/dev/null
cmake --build build-asan
reports="$PWD/build-asan/sanitizer-reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:print_stacktrace=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
export LSAN_OPTIONS="print_suppressions=0"
status=0
(cd build-asan && ctest --output-on-failure --timeout 900) || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:"
  cat "$reports"/*
  status=1
fi

# Formatting, against the checked-in .clang-format, with the clang-format of Debian 12 (other
# versions format some constructs differently).
formatter=$(command -v clang-format-14 || command -v clang-format)
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 "$formatter" --dry-run --Werror; then
  echo "Files differ from .clang-format: run  git ls-files -z '*.cpp' '*.h' | xargs -0 $formatter -i"
  status=1
fi
exit $status
