#!/usr/bin/env bash
# Static analysis of the program's own code: clang-tidy (.clang-tidy) and
# cppcheck over app/, window/ and platform/. Any finding fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset host >/dev/null   # compile_commands.json for clang-tidy

sources=(app/*.cpp window/*.cpp)
echo "lint: clang-tidy ${sources[*]}"
clang-tidy --quiet -p build/host "${sources[@]}" 2>/dev/null | tee build/clang-tidy.log
if grep -q -E '(warning|error):' build/clang-tidy.log; then
    echo "lint: clang-tidy has findings" >&2
    exit 1
fi

echo "lint: cppcheck app window platform"
cppcheck --std=c++17 --language=c++ --enable=warning,style,performance,portability \
    --inline-suppr --error-exitcode=1 --quiet -I . -U_WIN32 app window platform
echo "lint: no findings"
