#!/usr/bin/env bash
# Installs the build into a temporary prefix, as a packager would, and checks
# the tree: the programs in bin, the command line's player among the
# programs' private files, the manual in the shared data folder, the desktop
# entry where desktops look for it (and valid), the icon in the hicolor
# theme, and nothing else.
#   check-install.sh BUILD_DIR SOURCE_DIR gui|cli
# gui: the build has the window program; cli: only segmora-cli.
# Exits 77 (skipped) when desktop-file-validate is missing.
set -uo pipefail
BUILD=$1
SOURCE=$2
KIND=$3

if [ "$KIND" = gui ] && ! command -v desktop-file-validate >/dev/null; then
    echo "desktop-file-validate is missing"
    exit 77
fi

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh" segmora-install
PREFIX=$WORK

if ! log=$(cmake --install "$BUILD" --prefix "$PREFIX" 2>&1); then
    echo "$log"
    echo "FAIL: cmake --install"
    exit 1
fi

expected=(bin/segmora-cli)
if [ "$KIND" = gui ]; then
    expected+=(
        bin/segmora
        libexec/segmora/segmora-cli-play
        share/applications/segmora.desktop
        share/icons/hicolor/scalable/apps/segmora.svg
        share/segmora/manual.html
    )
fi
actual=$(cd "$PREFIX" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$actual" = "$wanted" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual"))"

[ -x "$PREFIX/bin/segmora-cli" ] || fail "bin/segmora-cli is not executable"
"$PREFIX/bin/segmora-cli" --help >/dev/null || fail "the installed segmora-cli does not run"

if [ "$KIND" = gui ]; then
    [ -x "$PREFIX/bin/segmora" ] || fail "bin/segmora is not executable"

    # play hands over to the player program, also once the tree has moved:
    # the player, not segmora-cli, then tries to open the missing file.
    mv "$PREFIX" "$PREFIX-moved"
    played=$("$PREFIX-moved/bin/segmora-cli" play "$PREFIX/none.mp3" 2>&1)
    mv "$PREFIX-moved" "$PREFIX"
    grep -q "not available" <<<"$played" && fail "the installed segmora-cli cannot start its player: $played"
    grep -q "Unable to open file" <<<"$played" || fail "the installed player did not report the missing file: $played"

    entry=$PREFIX/share/applications/segmora.desktop
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects the desktop entry"
    for line in 'Type=Application' 'Name=Segmora' 'Exec=segmora %f' 'Icon=segmora' \
        'MimeType=audio/mpeg;' 'Terminal=false'; do
        grep -qxF "$line" "$entry" || fail "the desktop entry lacks the line '$line'"
    done
    grep -qE '^Categories=.*\bAudio;' "$entry" || fail "the desktop entry is not in the Audio category"

    cmp -s "$SOURCE/resources/images/segmora.svg" \
        "$PREFIX/share/icons/hicolor/scalable/apps/segmora.svg" ||
        fail "the installed icon is not the program's icon"

    manual=$PREFIX/share/segmora/manual.html
    # The program looks for the manual beside itself in the build.
    cmp -s "$BUILD/ui/manual.html" "$manual" || fail "the installed manual is not the one beside the program"
    grep -qE '@[A-Z_]+@' "$manual" && fail "the manual has placeholders left: $(grep -oE '@[A-Z_]+@' "$manual" | sort -u | tr '\n' ' ')"
    pictures=$(grep -o '<svg ' "$manual" | wc -l)
    [ "$pictures" -eq 10 ] || fail "the manual shows $pictures pictures instead of the 9 toolbar pictures and the icon"
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed tree as expected"
