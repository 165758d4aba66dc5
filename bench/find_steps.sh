#!/bin/sh
# Times Find's network module as it stood at each revision given beside this
# build's, in one run of bench_find, so that the load of a shared machine
# falls on all alike. Each revision's src/finder/ is built into
# build/bench/find-steps/<revision>/ with the flags of a RelWithDebInfo build.
#
#     bench/find_steps.sh [rounds] REVISION...
set -eu
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
build=${TERNBELL_BUILD:-$root/build}
rounds=21
# The build's own compiler, so that only the revision differs.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
case "${1:-}" in [0-9]*) rounds=$1; shift ;; esac
modules=
for rev in "$@"; do
    short=$(git -C "$root" rev-parse --short "$rev")
    dir=$build/bench/find-steps/$short
    rm -rf "$dir"
    mkdir -p "$dir/src/finder"
    for file in $(git -C "$root" ls-tree --name-only "$rev" src/finder/); do
        git -C "$root" show "$rev:$file" > "$dir/$file"
    done
    # shellcheck disable=SC2046 # pkg-config's flags are words
    ccache "${cxx:-c++}" -std=c++20 -O2 -g -DNDEBUG -fPIC -shared -fvisibility=hidden -I"$dir/src" \
        $(pkg-config --cflags Qt6Network) "$dir"/src/finder/*.cpp -o "$dir/ternbell-finder.so" \
        $(pkg-config --libs Qt6Network)
    modules="$modules $short=$dir/ternbell-finder.so"
done
# shellcheck disable=SC2086 # one argument per module
exec "$root/scripts/offline.sh" "$build/bench/bench_find" "$rounds" $modules
