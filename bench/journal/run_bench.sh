#!/usr/bin/env bash
# The journal's cost per recorded file (target: under 1 ms) and the time of --history on a
# journal of 100,000 rows, on a release build of its own. DIR: where the database goes (the
# default is a folder under /var/tmp, on a real disk rather than a tmpfs). BUILD_DIR: an
# existing build to use instead (the program's optimisation hardly matters: the time is
# SQLite's, Debian's build of it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-bench}
[[ -n ${BUILD_DIR:-} ]] || cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target journal_bench valtrassosftp >/dev/null
dir=${DIR:-$(mktemp -d /var/tmp/journal-bench.XXXXXX)}
db=$dir/journal.db
"$build"/bench/journal/journal_bench "$db" "${ROWS:-100000}"

program=$build/src/shell/program/valtrassosftp
# --history: the whole journal, and the rows of one file; five runs each, median and spread;
# --version beside them is what starting the program costs on this machine as it is loaded now.
for text in "" "file4242.pdf" "--version"; do
  times=()
  for run in 1 2 3 4 5; do
    start=$(date +%s%N)
    if [[ $text == --version ]]; then
      "$program" --version >/dev/null
    else
      VALTRASSOSFTP_JOURNAL=$db "$program" --history ${text:+"$text"} >/dev/null
    fi
    times+=($(( ($(date +%s%N) - start) / 1000000 )))
  done
  sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  [[ $text == --version ]] && label=--version || label="--history ${text:-(all rows)}"
  echo "$label: ms ${times[*]}  median ${sorted[2]}, spread ${sorted[0]}..${sorted[4]}"
done
echo "rows printed: $(VALTRASSOSFTP_JOURNAL=$db "$program" --history | wc -l)"
echo "query plan: $(sqlite3 "$db" "EXPLAIN QUERY PLAN SELECT * FROM transfers ORDER BY finished DESC, id DESC" | tr '\n' ' ')"
[[ -n ${DIR:-} ]] || rm -rf "$dir"
