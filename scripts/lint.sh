#!/usr/bin/env bash
# Static analysis of the program's own code: clang-tidy (.clang-tidy) and
# cppcheck over app/, window/ and platform/ (or the folders named). Any
# finding fails, and so does a tool that cannot run, with its reason.
#   lint.sh [DIR...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset host >/dev/null   # compile_commands.json for clang-tidy

# The folders to check; a test names its own.
dirs=(app window platform)
[ $# -eq 0 ] || dirs=("$@")
sources=()
for dir in "${dirs[@]}"; do sources+=($(find "$dir" -maxdepth 1 -name '*.cpp' | sort)); done
echo "lint: clang-tidy ${sources[*]}"
# Its findings on standard output, why it could not run on standard error.
status=0
clang-tidy --quiet -p build/host "${sources[@]}" >build/clang-tidy.log 2>build/clang-tidy.err || status=$?
cat build/clang-tidy.log
if grep -q -E '(warning|error):' build/clang-tidy.log; then
    echo "lint: clang-tidy has findings" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    cat build/clang-tidy.err >&2
    echo "lint: clang-tidy could not run (exit $status)" >&2
    exit 1
fi

echo "lint: cppcheck ${dirs[*]}"
cppcheck --std=c++17 --language=c++ --enable=warning,style,performance,portability \
    --inline-suppr --error-exitcode=1 --quiet -I . -U_WIN32 "${dirs[@]}" || { echo "lint: cppcheck has findings" >&2; exit 1; }
echo "lint: no findings"
