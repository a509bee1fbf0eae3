#!/usr/bin/env bash
# The split into 10 parts run through the progress dialog (offscreen), as the
# main window runs it, side by side with the same split by segmora-cli.
# Goal: at most 1.2 x the command line, while the dialog still repaints and
# a Cancel click stops the job within a tenth of a second.
set -euo pipefail
. "$(dirname "$0")/common.sh"

EXECUTE=$BUILD/bench/segmora-execute-bench
export QT_QPA_PLATFORM=offscreen
mkdir -p "$WORK/cli-parts" "$WORK/dialog-parts"

cli_split() { "$CLI" split "$BIG" --parts 10 --folder "$WORK/cli-parts" --overwrite --quiet; }
dialog_split() { "$EXECUTE" "$BIG" "$WORK/dialog-parts" 10; }

seconds_of() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median_of() { sort -g | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f\n", m}'; }

# Each run writes a whole copy of the source, and the kernel's write-back of
# earlier runs slows later ones: the two take turns, each going first every
# other round, so that both meet the same page cache and write-back.
cli_split >/dev/null 2>&1
dialog_split >/dev/null 2>&1
cli_times=()
dialog_times=()
for ((i = 0; i < RUNS; i++)); do
    if ((i % 2 == 0)); then
        cli_times+=("$(seconds_of cli_split)")
        dialog_times+=("$(seconds_of dialog_split)")
    else
        dialog_times+=("$(seconds_of dialog_split)")
        cli_times+=("$(seconds_of cli_split)")
    fi
done
cli_s=$(printf '%s\n' "${cli_times[@]}" | median_of)
dialog_s=$(printf '%s\n' "${dialog_times[@]}" | median_of)

# Into an empty folder, so that truncating old parts does not count as a wait.
rm -f "$WORK/dialog-parts"/*
stats=$("$EXECUTE" "$BIG" "$WORK/dialog-parts" 10 --stats 2>/dev/null)
cancel=$("$EXECUTE" "$BIG" "$WORK/dialog-parts" 10 --cancel-after 0.3 2>/dev/null)
rm -rf "$WORK/cli-parts" "$WORK/dialog-parts"

echo
echo "Split into 10 parts through the progress dialog (offscreen):"
row "segmora-cli split" "$cli_s"
row "Execute under the progress dialog" "$dialog_s" "$cli_s" "cli (goal <= 1.20)"
printf '  %-44s %8s\n' "progress bar paints during the split" \
    "$(sed -n 's/^bar paints: //p' <<<"$stats")"
printf '  %-44s %8s\n' "longest wait of the events" \
    "$(sed -n 's/^longest wait for events: //p' <<<"$stats")"
printf '  %-44s %8s\n' "Cancel clicked at 0.3 s: job stopped" \
    "$(sed -n 's/^stopped \(.*\) after the click$/\1 later/p; s/^finished before the cancel$/before it/p' <<<"$cancel")"
