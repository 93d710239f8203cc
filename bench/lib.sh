# Shared by the benchmark scripts (sourced): runs timed by the median of several runs after a
# warm-up, so that one slow run (another program, a cold cache) does not decide the verdict.

# Sets build (the folder given, default build), cli and make_table in it, and work, a scratch
# folder removed at exit; stops when a tool named (or one of the two) is missing.
bench_start() {
  build="${1:-$here/build}"
  cli="$build/rowsifter-cli"
  make_table="$build/make_access_table"
  for tool in /usr/bin/time "$cli" "$make_table" "${@:2}"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
  done
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
}

# Sets median_time (seconds) and median_kb: the median elapsed time and the median peak resident
# set of `runs` runs of "$@", after one warm-up run that is not counted. $prepare, when set, is evaluated (untimed)
# before each run. The output of the last run is left in $work/out. Exit status 1 (nothing
# matched) counts as a finished run; any other failure stops the script.
median_run() {
  local times=() kbs=() status
  for i in $(seq 0 "$runs"); do
    [ -n "${prepare:-}" ] && eval "$prepare"
    status=0
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" -gt 1 ]; then
      echo "failed ($status): $* ($(cat "$work/err"))" >&2
      exit 1
    fi
    if [ "$i" -gt 0 ]; then
      read -r t kb < <(tail -n 1 "$work/time")
      times+=("$t") kbs+=("$kb")
    fi
  done
  median_time=$(median_of "${times[@]}")
  median_kb=$(median_of "${kbs[@]}" | cut -d . -f 1)
}

# The median of the numbers given.
median_of() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# "x" and $1 / $2 to two places.
ratio() { awk "BEGIN { printf \"x%.2f\", $1 / $2 }"; }

# "holds" when $1 <= $2, else "DOES NOT HOLD".
verdict() { awk "BEGIN { print ($1 <= $2) ? \"holds\" : \"DOES NOT HOLD\" }"; }
