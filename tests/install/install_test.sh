#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what lands there: the programs, the help
# file beside the window program, the manual pages, the desktop entry, the icons, the metainfo
# and the licence, each where the desktop and man(1) look for it and valid for the tools that
# read it. Nothing else may be installed.
#
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR HAS_SCAN APP_ID VERSION
#   HAS_SCAN is 1 when the build has the command-line lister, else 0.
# Exit status: 0 passed, 1 failed, 77 skipped (a checking tool is not installed).
set -euo pipefail

if [[ $# -ne 6 ]]; then
    echo "usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR HAS_SCAN APP_ID VERSION" >&2
    exit 1
fi
CMAKE=$1 BUILD=$2 SOURCE=$3 HAS_SCAN=$4 APP_ID=$5 VERSION=$6

for tool in groff desktop-file-validate appstreamcli od; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! out=$("$CMAKE" --install "$BUILD" --prefix "$PREFIX" 2>&1); then
    echo "$out"
    echo "FAIL: cmake --install did not finish"
    exit 1
fi

share=$PREFIX/share
desktop=$share/applications/$APP_ID.desktop
metainfo=$share/metainfo/$APP_ID.metainfo.xml
icon_sizes=(16 32 48 64 128 256)

expected=(bin/tarnwick bin/tarnwick.HLP share/man/man1/tarnwick.1
          "share/applications/$APP_ID.desktop" "share/metainfo/$APP_ID.metainfo.xml"
          share/icons/hicolor/scalable/apps/tarnwick.svg share/doc/tarnwick/LICENSE)
for size in "${icon_sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/tarnwick.png")
done
pages=(tarnwick)
if [[ $HAS_SCAN == 1 ]]; then
    expected+=(bin/tarnwick-scan share/man/man1/tarnwick-scan.1)
    pages+=(tarnwick-scan)
fi

# Exactly the expected files: nothing missing, and no library, header or test of the build.
installed=$(cd "$PREFIX" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [[ $installed != "$wanted" ]]; then
    fail "the installed files differ from those expected (< installed, > expected):"
    diff <(echo "$installed") <(echo "$wanted") || true
fi

# The programs run from bin/, and the window program finds its help as its own path with .HLP.
for program in tarnwick tarnwick-scan; do
    if [[ $HAS_SCAN == 1 || $program == tarnwick ]]; then
        [[ -f $PREFIX/bin/$program && -x $PREFIX/bin/$program ]] ||
            fail "bin/$program is not an executable file"
    fi
done
cmp -s "$SOURCE/res/tarnwick.HLP" "$PREFIX/bin/tarnwick.HLP" ||
    fail "bin/tarnwick.HLP is not the help file"

# Manual pages: formatted without a single warning, titled after their file, of this version.
for page in "${pages[@]}"; do
    file=$share/man/man1/$page.1
    [[ -f $file ]] || continue
    warnings=$(groff -man -ww -z "$file" 2>&1) || fail "groff failed on $page.1"
    [[ -z $warnings ]] || fail "groff warns about $page.1: $warnings"
    title=$(sed -n 's/^\.TH  *\([^ ]*\) 1 .*/\1/p' "$file" | sed 's/\\-/-/g')
    [[ $title == "${page^^}" ]] || fail "$page.1 is titled '$title'"
    grep -q "^\.TH .*\"Tarnwick $VERSION\"" "$file" || fail "$page.1 is not of version $VERSION"
done

# The desktop entry: valid without a hint, starting a program that is installed, with the icon.
if [[ -f $desktop ]]; then
    report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
    [[ -z $report ]] || fail "desktop-file-validate says: $report"
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    [[ -x $PREFIX/bin/${exec_line%% *} ]] || fail "Exec=$exec_line names no installed program"
    grep -qx 'Icon=tarnwick' "$desktop" || fail "the desktop entry's icon is not tarnwick"
fi

# Icons: PNG files of their directory's size, with an alpha channel; the SVG a drawing.
png_header() { od -An -tu1 -N26 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
for size in "${icon_sizes[@]}"; do
    png=$share/icons/hicolor/${size}x${size}/apps/tarnwick.png
    [[ -f $png ]] || continue
    read -r -a b <<<"$(png_header "$png")"
    if [[ ${#b[@]} -ne 26 || "${b[*]:0:8}" != "137 80 78 71 13 10 26 10" ]]; then
        fail "${size}x${size}/apps/tarnwick.png is not a PNG file"
        continue
    fi
    width=$(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))
    height=$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))
    [[ $width == "$size" && $height == "$size" ]] ||
        fail "${size}x${size}/apps/tarnwick.png is ${width}x${height}"
    [[ ${b[25]} == 6 ]] || fail "${size}x${size}/apps/tarnwick.png has no alpha channel"
done
svg=$share/icons/hicolor/scalable/apps/tarnwick.svg
if [[ -f $svg ]]; then
    grep -q '<svg [^>]*viewBox="0 0 32 32"' "$svg" || fail "tarnwick.svg has no square viewBox"
fi

# The metainfo: valid offline, naming the installed desktop entry, of this version.
if [[ -f $metainfo ]]; then
    report=$(appstreamcli validate --no-net "$metainfo" 2>&1) ||
        fail "appstreamcli rejects the metainfo: $report"
    grep -q "<id>$APP_ID</id>" "$metainfo" || fail "the metainfo's id is not $APP_ID"
    grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" ||
        fail "the metainfo launches no $APP_ID.desktop"
    grep -q "<release version=\"$VERSION\"" "$metainfo" ||
        fail "the metainfo has no release $VERSION"
fi

cmp -s "$SOURCE/LICENSE" "$share/doc/tarnwick/LICENSE" ||
    fail "share/doc/tarnwick/LICENSE is not the licence"

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "PASS: ${#expected[@]} files installed and checked"
