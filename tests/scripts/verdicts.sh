#!/usr/bin/env bash
# The front door's verdicts, each given a case that must fail: a command
# that checks something must say so and exit non-zero when it goes wrong.
# What each row needs is made here, under build/verdicts.
set -euo pipefail
cd "$(dirname "$0")/../.."
work=build/verdicts
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ctest" "$work/finding" "$work/unreadable"
printf 'add_test(passes /bin/true)\nadd_test(fails /bin/false)\n' >"$work/ctest/CTestTestfile.cmake"
printf 'int f()\n{\n    int x;\n    x = 1;\n    return x;\n}\n' >"$work/finding/finding.cpp"
ln -s nowhere.cpp "$work/unreadable/gone.cpp"
fresh='FRESH_ROOT_FUNCTIONS=1 source .ci/fresh-root;'
# fresh-root runs as root; as anyone else, as root in a user namespace.
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(unshare --user --map-root-user)

failed=0
# command | exit code | what it must say (a regex)
while IFS='|' read -r command want says; do
    code=0
    said=$("${as_root[@]}" bash -c "$command" 2>&1) || code=$?
    echo "$command: exit $code; $(tail -n 1 <<<"$said")"
    if [ "$code" != "$want" ] || ! tr '\n' ' ' <<<"$said" | grep -qE -- "$says"; then
        echo "$said" | tail -n 20
        echo "  FAIL: wanted exit $want and $says" >&2
        failed=1
    fi
done <<TABLE
scripts/test.sh $work/all verdicts/ctest|8|1 tests failed out of 2
scripts/lint.sh $work/finding|1|variable 'x' is not initialized.*lint: clang-tidy has findings
scripts/lint.sh $work/unreadable|1|no such file or directory.*gone.cpp
$fresh fresh_root() { [ "\$1" != bad ]; }; all_roots good bad good|1|fresh-root: failed in bad *$
$fresh isolated sh -c 'echo inside; exit 3'|3|^inside *$
TABLE
exit $failed
