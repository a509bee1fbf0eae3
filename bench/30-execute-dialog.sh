#!/usr/bin/env bash
# The split into 10 parts run through the progress dialog (offscreen), as the
# main window runs it, side by side with the same split by segmora-cli.
# Goal: at most 1.2 x the command line, while the dialog still repaints and
# a Cancel click stops the job within a tenth of a second.
set -euo pipefail
. "$(dirname "$0")/common.sh"

EXECUTE=$BUILD/ui/segmora-execute-bench
export QT_QPA_PLATFORM=offscreen
mkdir -p "$WORK/cli-parts" "$WORK/dialog-parts"

cli_split() { "$CLI" split "$BIG" --parts 10 --folder "$WORK/cli-parts" --overwrite --quiet; }
dialog_split() { "$EXECUTE" "$BIG" "$WORK/dialog-parts" 10; }

# One run of each first, so that both meet the same warm page cache.
cli_split >/dev/null 2>&1
dialog_split >/dev/null 2>&1
cli_s=$(median_seconds cli_split)
dialog_s=$(median_seconds dialog_split)
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
