# Sourced by bench.sh and every bench/NN-*.sh. Gives:
#   BUILD     the optimised build folder
#   CLI       its segmora-cli
#   WORK      a temporary folder, removed at the end of bench.sh
#   BIG       a file of at least 1 GiB made of a fixture repeated
#   RUNS      how many times each command runs (medians reported)
# and the functions below.
#
# Commands are compared side by side: A and B run in turn (A B A B ...), and
# the figure that counts is the median of the ratios A/B of each pair, so
# that a machine whose speed drifts during the run weighs on both alike.
# Before each run, and outside its timing, a preparation of the caller's
# runs (to remove outputs, so that every run writes new files).

# seconds_of CMD...: the wall time of one run of CMD (output discarded), in
# seconds.
seconds_of() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local end=$EPOCHREALTIME
    echo "$end - $start" | bc -l
}

# median: the median of the numbers on standard input, one a line.
median() {
    sort -g | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f\n", m}'
}

# compare PREP_A RUN_A PREP_B RUN_B: runs PREP_A then RUN_A, PREP_B then
# RUN_B, RUNS times in turn after one round that is not counted (it fills
# the page cache and leaves the outputs of both), timing only RUN_A and RUN_B.
# Each argument is one command (a function name, say); ':' prepares nothing.
# Prints three numbers: the median seconds of A, of B, and the median of the
# pair ratios A/B.
compare() {
    local prep_a=$1 run_a=$2 prep_b=$3 run_b=$4 i a b
    local a_times=() b_times=() ratios=()
    $prep_a
    $run_a >/dev/null 2>&1
    $prep_b
    $run_b >/dev/null 2>&1
    for ((i = 0; i < RUNS; i++)); do
        $prep_a
        a=$(seconds_of $run_a)
        $prep_b
        b=$(seconds_of $run_b)
        a_times+=("$a")
        b_times+=("$b")
        ratios+=("$(echo "$a / $b" | bc -l)")
    done
    echo "$(printf '%s\n' "${a_times[@]}" | median)" \
        "$(printf '%s\n' "${b_times[@]}" | median)" \
        "$(printf '%s\n' "${ratios[@]}" | median | xargs printf '%.2f')"
}

# peak_kib CMD...: the peak resident memory of one run of CMD, in KiB.
peak_kib() {
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

# row LABEL SECONDS [RATIO BASE_LABEL]: one line of the report.
row() {
    if [ $# -ge 4 ]; then
        printf '  %-46s %8.3f s   %5s x %s\n' "$1" "$2" "$3" "$4"
    else
        printf '  %-46s %8.3f s\n' "$1" "$2"
    fi
}

# make_hour FILE: an hour of 128 kbit/s audio, the CBR fixture's audio frames
# repeated, without its information frame (which would count the frames of
# one copy only).
make_hour() {
python3 - tests/data/cbr-128-info.mp3 "$1" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
if data[-128:-125] == b'TAG':
    data = data[:-128]
assert data[0] == 0xFF and (data[1] & 0xFE) == 0xFA, 'an MPEG-1 Layer III fixture'
kbps = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)[data[2] >> 4]
rate = (44100, 48000, 32000)[(data[2] >> 2) & 3]
first = 144 * kbps * 1000 // rate + ((data[2] >> 1) & 1)
assert b'Xing' in data[:first] or b'Info' in data[:first], 'an information frame first'
frames = data[first:]
copies = -(-3600 * kbps * 1000 // 8 // len(frames))
with open(sys.argv[2], 'wb') as out:
    for _ in range(copies):
        out.write(frames)
PY
}
