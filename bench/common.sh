# Sourced by bench.sh and every bench/NN-*.sh. Gives:
#   BUILD     the optimised build folder
#   CLI       its segmora-cli
#   WORK      a temporary folder, removed at the end of bench.sh
#   BIG       a file of at least 1 GiB made of a fixture repeated
#   RUNS      how many times each command runs (median reported)
# and the functions below.

# median_seconds CMD...: runs CMD $RUNS times (output discarded), prints the
# median wall time in seconds.
median_seconds() {
    local times=() i start end
    for ((i = 0; i < RUNS; i++)); do
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc -l)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f\n", m}'
}

# peak_kib CMD...: the peak resident memory of one run of CMD, in KiB.
peak_kib() {
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

# ratio A B: A / B to two places.
ratio() {
    printf '%.2f' "$(echo "$1 / $2" | bc -l)"
}

# row LABEL SECONDS [BASE_SECONDS BASE_LABEL]: one line of the report.
row() {
    if [ $# -ge 4 ]; then
        printf '  %-44s %8.3f s   %5s x %s\n' "$1" "$2" "$(ratio "$2" "$3")" "$4"
    else
        printf '  %-44s %8.3f s\n' "$1" "$2"
    fi
}
