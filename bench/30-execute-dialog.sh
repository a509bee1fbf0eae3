#!/usr/bin/env bash
# The split into 10 parts run through the progress dialog (offscreen), as the
# main window runs it, side by side with the same split by segmora-cli.
# Goal: at most 1.2 x the command line, while the dialog still repaints and
# a Cancel click stops the job within a tenth of a second.
set -euo pipefail
. "$(dirname "$0")/common.sh"

EXECUTE=$BUILD/bench/segmora-execute-bench
export QT_QPA_PLATFORM=offscreen
OUT=$WORK/dialog-bench

# Every run writes new parts: both folders are emptied before each run.
fresh() { rm -rf "$OUT" && mkdir -p "$OUT/cli" "$OUT/dialog"; }
cli_split() { "$CLI" split "$BIG" --parts 10 --folder "$OUT/cli" --overwrite --quiet; }
dialog_split() { "$EXECUTE" "$BIG" "$OUT/dialog" 10; }

read -r dialog_s cli_s ratio < <(compare fresh dialog_split fresh cli_split)

fresh
stats=$("$EXECUTE" "$BIG" "$OUT/dialog" 10 --stats 2>/dev/null)
fresh
cancel=$("$EXECUTE" "$BIG" "$OUT/dialog" 10 --cancel-after 0.3 2>/dev/null)
rm -rf "$OUT"

echo
echo "Split into 10 parts through the progress dialog (offscreen):"
row "segmora-cli split" "$cli_s"
row "Execute under the progress dialog" "$dialog_s" "$ratio" "cli (goal <= 1.20)"
printf '  %-46s %8s\n' "progress bar paints during the split" \
    "$(sed -n 's/^bar paints: //p' <<<"$stats")"
printf '  %-46s %8s\n' "longest wait of the events" \
    "$(sed -n 's/^longest wait for events: //p' <<<"$stats")"
printf '  %-46s %8s\n' "Cancel clicked at 0.3 s: job stopped" \
    "$(sed -n 's/^stopped \(.*\) after the click$/\1 later/p; s/^finished before the cancel$/before it/p' <<<"$cancel")"
