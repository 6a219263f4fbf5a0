#!/bin/bash
# Writes, on standard output, the NSIS include that tessarin.nsi uses to install
# and to uninstall the deploy folder given as $1. Both lists come from one walk
# of the folder, so the uninstaller removes exactly what the installer put there
# and nothing the operator made (RMDir without /r: a folder still holding the
# operator's files stays).
#
# Left out on purpose, should a test run have made them in the deploy folder:
# config/SetupConfig.ini (the operator's settings, with the database password:
# shipping it would overwrite them on every update) and logs/.
set -euo pipefail
export LC_ALL=C.UTF-8

src=${1:?usage: nsis-filelist.sh <deploy folder>}
[ -d "$src" ] || { echo "nsis-filelist.sh: no folder $src" >&2; exit 1; }
src=$(cd "$src" && pwd -P)
[ -f "$src/tessarin.exe" ] || { echo "nsis-filelist.sh: no tessarin.exe in $src" >&2; exit 1; }

# In an NSIS run-time string $ is the one character to escape once names that
# Windows would refuse (among them ") are turned away. File's source paths are
# read at compile time and taken as they are.
nsis_escape() {
    printf '%s' "${1//\$/\$\$}"
}

# "$INSTDIR\<path>" for a deploy-folder-relative path ("" is $INSTDIR itself).
# shellcheck disable=SC2016 # $INSTDIR is NSIS's
install_path() {
    local rel
    rel=$(nsis_escape "$1")
    if [ -n "$rel" ]; then
        printf '"$INSTDIR\\%s"' "${rel//\//\\}"
    else
        printf '"$INSTDIR"'
    fi
}

dirs=() files=()
while IFS= read -r -d '' path; do
    rel=${path#./}
    case $rel in
    logs/*) continue ;;
    config/SetupConfig.ini | logs)
        echo "nsis-filelist.sh: leaving out $rel (operator data, never shipped)" >&2
        continue ;;
    uninstall.exe)
        echo "nsis-filelist.sh: $src has an uninstall.exe of its own" >&2
        exit 1 ;;
    esac
    # Windows refuses these characters; makensis would also read * and ? as wildcards.
    if [[ $rel == *[\\:\*\?\"\<\>\|]* ]]; then
        echo "nsis-filelist.sh: name not valid on Windows: $rel" >&2
        exit 1
    fi
    if [ -d "$src/$rel" ]; then
        dirs+=("$rel")
    elif [ -f "$src/$rel" ]; then
        files+=("$rel")
    else
        echo "nsis-filelist.sh: neither file nor folder: $rel" >&2
        exit 1
    fi
done < <(cd "$src" && find . -mindepth 1 -print0 | sort -z)

echo "; Made by nsis-filelist.sh from $src: ${#files[@]} files, ${#dirs[@]} folders."
echo "!macro TESSARIN_INSTALL_FILES"
echo "  SetOutPath \"\$INSTDIR\""
current=
for rel in "${files[@]}"; do
    dir=$(dirname "$rel")
    [ "$dir" = . ] && dir=
    if [ "$dir" != "$current" ]; then
        echo "  SetOutPath $(install_path "$dir")"
        current=$dir
    fi
    echo "  File \"$src/$rel\""
done
# Folders that hold no file still belong to the deploy folder.
for rel in "${dirs[@]}"; do
    echo "  CreateDirectory $(install_path "$rel")"
done
echo "  SetOutPath \"\$INSTDIR\""
echo "!macroend"
echo
echo "!macro TESSARIN_UNINSTALL_FILES"
for rel in "${files[@]}"; do
    echo "  Delete $(install_path "$rel")"
done
# Deepest first, so that a folder is empty by the time its parent is tried.
printf '%s\n' "${dirs[@]}" | awk -F/ '{ print NF "\t" $0 }' | sort -t "$(printf '\t')" -k1,1nr -k2 | cut -f2- |
    while IFS= read -r rel; do
        [ -n "$rel" ] || continue
        echo "  RMDir $(install_path "$rel")"
    done
echo "!macroend"
