#!/usr/bin/env bash
# Measures which deliberate faults the test suite catches.
#
#   scripts/mutants.sh [-l LIST] [-b BUILD_DIR] [-o RESULT_FILE] [-t SECONDS] [N ...]
#
# Each entry of LIST (default scripts/mutants.txt) is one small fault in one
# source file. For each (or only entries N ...), the script applies it, builds
# in its own folder (default build/mutants, configured like the default
# preset), runs the default test selection with --stop-on-failure and puts
# the file back - always, also when interrupted. A mutant is "killed" when a
# test fails, "alive" when every test passes, "invalid" when it does not build.
# Left out of the runs, so never counted as killers: the desktop test
# (ui.desktop: a real X server and window manager, minutes of setup) and
# everything labelled slow (the soak test, the long part of the fault matrix),
# as in the default test run.
#
# Entry format (entries are separated by blank lines; lines starting with
# '#' are the reason, shown in the results):
#   @ path/of/File.cpp
#   - original text, which must occur exactly once in the file
#   + replacement text
#   # why this is a fault a user would see
# '\n' in the texts stands for a line end. The unchanged tree's tests run
# first (MUTANTS_NO_BASELINE=1 skips that).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/scripts/mutants.txt
build=$root/build/mutants
result=
timeout=120
while getopts "l:b:o:t:" opt; do
  case $opt in
    l) list=$OPTARG ;;
    b) build=$OPTARG ;;
    o) result=$OPTARG ;;
    t) timeout=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
result=${result:-$build/mutants-result.txt}
only=" $* "

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}

# Splits LIST into numbered entries in a work folder: N.file, N.from, N.to, N.why.
work=$(mktemp -d)
python3 - "$list" "$work" <<'PY' || exit 2
import sys, os
src, out = sys.argv[1], sys.argv[2]
entries, cur = [], None
for raw in open(src, encoding="utf-8").read().split("\n"):
    if raw.startswith("@ "):
        cur = {"file": raw[2:].strip(), "from": None, "to": None, "why": ""}
        entries.append(cur)
    elif cur is not None and raw.startswith("- "):
        cur["from"] = raw[2:].replace("\\n", "\n")
    elif cur is not None and (raw.startswith("+ ") or raw == "+"):
        cur["to"] = raw[2:].replace("\\n", "\n")
    elif cur is not None and raw.startswith("#"):
        cur["why"] = (cur["why"] + " " + raw.lstrip("# ")).strip()
for n, e in enumerate(entries, 1):
    if e["from"] is None or e["to"] is None:
        sys.exit(f"entry {n} ({e['file']}): needs a '-' and a '+' line")
    for k in ("file", "from", "to", "why"):
        open(os.path.join(out, f"{n}.{k}"), "w", encoding="utf-8").write(e[k])
open(os.path.join(out, "count"), "w").write(str(len(entries)))
PY
total=$(cat "$work/count")

current=
backup=$work/backup
restore() {
  if [[ -n $current ]]; then
    # A plain copy gives the file a new time, so the next build compiles it again.
    cat "$backup" > "$root/$current"
    current=
  fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'restore; exit 130' INT TERM

# Like the default preset, without the benchmarks (nothing to test there).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVA_BUILD_BENCH=OFF >/dev/null || exit 2
echo "building the unchanged tree in $build"
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "the unchanged tree does not build"; exit 2; }

# Each test run: the default selection, one test failing stops it.
run_tests() {
  # Without its cost data ctest runs the suites in the order they are
  # declared, the quick unit suites first, instead of the longest first:
  # a killed mutant is then known in seconds.
  rm -f "$build/Testing/Temporary/CTestCostData.txt"
  ctest --test-dir "$build" -LE slow -E '^ui\.desktop$' -j2 --timeout "$timeout" --stop-on-failure \
    --no-tests=error >"$work/test.log" 2>&1
}

mkdir -p "$(dirname "$result")"
: >"$result"
# A mutant only counts as killed if the unchanged tree passes.
if [[ -z ${MUTANTS_NO_BASELINE:-} ]]; then
  echo "running the tests on the unchanged tree"
  if ! run_tests; then
    tail -30 "$work/test.log"
    echo "the unchanged tree fails its tests"
    exit 2
  fi
fi
killed=0 alive=0 invalid=0
for ((n = 1; n <= total; n++)); do
  [[ $only == "  " || $only == *" $n "* ]] || continue
  file=$(cat "$work/$n.file")
  why=$(cat "$work/$n.why")
  if ! python3 - "$root/$file" "$work/$n.from" "$work/$n.to" "$backup" <<'PY'
import sys, shutil
path, fr, to, backup = sys.argv[1:]
text = open(path, encoding="utf-8").read()
fr = open(fr, encoding="utf-8").read(); to = open(to, encoding="utf-8").read()
if text.count(fr) != 1:
    sys.exit(f"text occurs {text.count(fr)} times")
shutil.copyfile(path, backup)
open(path, "w", encoding="utf-8").write(text.replace(fr, to, 1))
PY
  then
    line="$n invalid (text not found once) $file: $why"
    invalid=$((invalid + 1))
    echo "$line" | tee -a "$result"
    continue
  fi
  current=$file
  start=$SECONDS
  if ! cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
    status=invalid; invalid=$((invalid + 1)); detail="does not build"
  elif run_tests; then
    status=alive; alive=$((alive + 1)); detail=
  else
    status=killed; killed=$((killed + 1))
    # The summary's lines: "<tab> 86 - Suite.Name (Failed)".
    detail="by $(sed -n -E 's/^[[:space:]]+[0-9]+ - ([^ ]+) \((Failed|Timeout|Exception|SEGFAULT|Subprocess aborted|Child aborted)\).*/\1/p' \
             "$work/test.log" | head -3 | paste -sd, -)"
  fi
  restore
  line="$n $status $((SECONDS - start))s $file: $why${detail:+ [$detail]}"
  echo "$line" | tee -a "$result"
done
# Leave the build folder matching the unchanged sources.
cmake --build "$build" -j2 >/dev/null 2>&1
echo "killed $killed  alive $alive  invalid $invalid  of $total" | tee -a "$result"
