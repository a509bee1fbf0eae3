#!/usr/bin/env bash
# Remakes docs/segmora.png, the README's picture: the window at 640x380
# with a short tune open (docs/make-tune.py, encoded with lame) and the
# segment around its quiet break marked by typed times. Needs a built
# build-run/ (./run.sh builds it) and, from Debian, lame, xvfb, xdotool and
# imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
PROGRAM=${PROGRAM:-build-run/ui/segmora}
# A plain folder name, since the window shows the path.
WORK=${TMPDIR:-/tmp}/segmora-picture
rm -rf "$WORK"
mkdir -p "$WORK/Music"
trap 'rm -rf "$WORK"' EXIT
python3 docs/make-tune.py "$WORK/tune.wav"
lame --quiet -V2 "$WORK/tune.wav" "$WORK/Music/evening-tune.mp3"

cat >"$WORK/shoot.sh" <<SHOOT
#!/usr/bin/env bash
set -euo pipefail
export XDG_CACHE_HOME="$WORK/cache" XDG_CONFIG_HOME="$WORK/config"
"$PROGRAM" "$WORK/Music/evening-tune.mp3" &
PID=\$!
trap 'kill \$PID' EXIT
for _ in \$(seq 50); do
    WID=\$(xdotool search --onlyvisible --name '^Segmora\$' | head -1 || true)
    [ -n "\$WID" ] && break
    sleep 0.2
done
xdotool windowsize "\$WID" 640 380
sleep 1
mark() { xdotool key --window "\$WID" "\$1"; sleep 0.3; xdotool type --window "\$WID" "\$2"; xdotool key --window "\$WID" Return; sleep 0.3; }
mark ctrl+1 0:07.0
mark ctrl+2 0:13.5
# The cursor inside the segment: the timeline has the focus.
xdotool key --window "\$WID" shift+Right shift+Right
sleep 1
import -window "\$WID" docs/segmora.png
SHOOT
chmod +x "$WORK/shoot.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$WORK/shoot.sh"
echo "docs/segmora.png remade"
