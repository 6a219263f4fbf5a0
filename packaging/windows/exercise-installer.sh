#!/bin/bash
# Tries a tessarin setup under Wine as an operator would: install, install again
# over it (an update), uninstall keeping the settings and logs, reinstall,
# uninstall with /PURGE; checks the files, the shortcuts and the uninstall
# registry entry after each step. Exits (or, sourced, returns) non-zero if a
# check failed.
#
#   SETUP_EXE=<setup.exe> WINEPREFIX=<prefix> [SOURCE_DIR=<deploy folder>] [VERSION=<x.y>] \
#       bash packaging/windows/exercise-installer.sh
#   or: source packaging/windows/exercise-installer.sh; exercise_installer
#
# With SOURCE_DIR every installed file is compared with the deploy folder's;
# with VERSION the registered version is checked. Nothing else may run in
# WINEPREFIX meanwhile: an NSIS uninstaller runs a copy of itself from %TEMP%
# and returns at once, so its end is awaited with `wineserver -w`.

# shellcheck disable=SC2317 # the helpers are called through check
exercise_installer() (
    set -uo pipefail
    : "${SETUP_EXE:?SETUP_EXE: the setup to try}"
    : "${WINEPREFIX:?WINEPREFIX: the Wine prefix to install into}"
    [ -f "$SETUP_EXE" ] || { echo "exercise-installer: no $SETUP_EXE" >&2; exit 2; }
    [ -z "${SOURCE_DIR:-}" ] || [ -f "$SOURCE_DIR/tessarin.exe" ] ||
        { echo "exercise-installer: no tessarin.exe in SOURCE_DIR=$SOURCE_DIR" >&2; exit 2; }
    export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
    # No menu entries on the host for the shortcuts made in the prefix.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
    # Wine names host files in the locale's charset; the shortcut's name is Chinese.
    case $(locale charmap 2>/dev/null) in UTF-8) ;; *) export LC_ALL=C.UTF-8 ;; esac

    local name="Orvane国标28181服务器"
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tessarin'
    local parent="$WINEPREFIX/drive_c/Program Files/Orvane"
    local dir="$parent/tessarin"
    local windir='C:\Program Files\Orvane\tessarin'
    local startmenu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$name.lnk"
    local desktop="$WINEPREFIX/drive_c/users/Public/Desktop/$name.lnk"
    local settings="$dir/config/SetupConfig.ini" log="$dir/logs/x.log"
    local work
    work=$(mktemp -d) || exit 2
    trap 'rm -rf "$work"' EXIT
    local checks=0 failed=0

    check() {
        local what=$1
        shift
        checks=$((checks + 1))
        if "$@"; then
            echo "  ok:   $what"
        else
            echo "  FAIL: $what"
            failed=$((failed + 1))
        fi
    }
    run_setup() {
        echo "- wine $(basename "$SETUP_EXE") $*"
        wine "$SETUP_EXE" "$@"
        local status=$?
        check "setup exits with 0 (got $status)" [ "$status" = 0 ]
        timeout 300 wineserver -w
    }
    run_uninstaller() {
        echo "- wine \"$windir\\uninstall.exe\" $*"
        wine "$windir\\uninstall.exe" "$@"
        local status=$?
        check "uninstaller starts (exit $status)" [ "$status" = 0 ]
        timeout 300 wineserver -w
        check "uninstaller done within 300 s" [ $? = 0 ]
    }
    wait_for_window() {
        local i
        for i in $(seq 60); do
            xdotool search --name "^Orvane" >/dev/null 2>&1 && return 0
            sleep 1
        done
        return 1
    }
    key_exists() { wine reg query "$key" >/dev/null 2>&1; }
    # The uninstall entry as text, one "name"=value a line (reg export writes UTF-16).
    export_key() {
        rm -f "$work/key.reg"
        wine reg export "$key" "$(winepath -w "$work/key.reg")" /y >/dev/null 2>&1 &&
            iconv -f UTF-16 -t UTF-8 "$work/key.reg" | tr -d '\r' >"$work/key.txt"
    }
    has_value() { grep -Fxq -- "$1" "$work/key.txt"; }
    has_nonzero_size() { grep -Eq '^"EstimatedSize"=dword:0*[1-9a-f][0-9a-f]*$' "$work/key.txt"; }
    none_present() { local f; while IFS= read -r f; do [ ! -e "$dir/$f" ] || { echo "        left $f"; return 1; }; done <"$1"; }
    same_as_source() {
        local f
        while IFS= read -r f; do
            [ "$f" = uninstall.exe ] || cmp -s "$SOURCE_DIR/$f" "$dir/$f" || { echo "        differs: $f"; return 1; }
        done <"$work/expected"
    }
    # The files in the install folder, less the operator's.
    list_installed() {
        (cd "$dir" && find . -type f ! -path ./config/SetupConfig.ini ! -path './logs/*' | sed 's|^\./||' | LC_ALL=C sort)
    }
    links_to_exe() { grep -aqF "$windir\\tessarin.exe" "$1"; }
    check_installed() {
        check "install folder $dir" [ -d "$dir" ]
        check "tessarin.exe and uninstall.exe installed" [ -f "$dir/tessarin.exe" -a -f "$dir/uninstall.exe" ]
        list_installed >"$work/installed"
        # Without a deploy folder, the first install is the measure of the next ones.
        [ -f "$work/expected" ] || cp "$work/installed" "$work/expected"
        check "installed files: $measure ($(wc -l <"$work/expected"))" cmp -s "$work/expected" "$work/installed"
        cmp -s "$work/expected" "$work/installed" || diff "$work/expected" "$work/installed" | sed 's/^/        /'
        [ -z "${SOURCE_DIR:-}" ] || check "each installed file equals the deploy folder's" same_as_source
        check "logs folder made" [ -d "$dir/logs" ]
        check "Start-menu shortcut $name.lnk to tessarin.exe" links_to_exe "$startmenu"
        check "desktop shortcut $name.lnk to tessarin.exe" links_to_exe "$desktop"
        check "uninstall entry readable" export_key
        check "DisplayName $name" has_value "\"DisplayName\"=\"$name\""
        if [ -n "${VERSION:-}" ]; then
            check "DisplayVersion $VERSION" has_value "\"DisplayVersion\"=\"$VERSION\""
        else
            check "DisplayVersion set" grep -q '^"DisplayVersion"="[0-9]' "$work/key.txt"
        fi
        check "Publisher Orvane" has_value '"Publisher"="Orvane"'
        check "DisplayIcon" has_value '"DisplayIcon"="C:\\Program Files\\Orvane\\tessarin\\tessarin.exe,0"'
        check "UninstallString, quoted" has_value '"UninstallString"="\"C:\\Program Files\\Orvane\\tessarin\\uninstall.exe\""'
        check "QuietUninstallString" has_value '"QuietUninstallString"="\"C:\\Program Files\\Orvane\\tessarin\\uninstall.exe\" /S"'
        check "InstallLocation" has_value '"InstallLocation"="C:\\Program Files\\Orvane\\tessarin"'
        check "NoModify" has_value '"NoModify"=dword:00000001'
        check "NoRepair" has_value '"NoRepair"=dword:00000001'
        check "EstimatedSize" has_nonzero_size
    }
    check_uninstalled() {
        check "every installed file removed" none_present "$work/installed"
        check "uninstall entry removed" eval '! key_exists'
        check "Start-menu shortcut removed" [ ! -e "$startmenu" ]
        check "desktop shortcut removed" [ ! -e "$desktop" ]
    }
    check_operator_data() {
        check "settings kept as they were" cmp -s "$work/settings" "$settings"
        check "log kept as it was" cmp -s "$work/log" "$log"
    }

    local measure="as in the first install"
    if [ -n "${SOURCE_DIR:-}" ]; then
        measure="the deploy folder's and uninstall.exe"
        { (cd "$SOURCE_DIR" && find . -type f ! -path ./config/SetupConfig.ini ! -path './logs/*' | sed 's|^\./||')
          echo uninstall.exe; } | LC_ALL=C sort >"$work/expected"
    fi
    if [ -e "$dir" ] || key_exists; then
        echo "- removing an earlier install from $dir"
        [ ! -f "$dir/uninstall.exe" ] || { wine "$windir\\uninstall.exe" /S /PURGE; timeout 300 wineserver -w; }
        rm -rf "$dir"
        rmdir "$parent" 2>/dev/null
        wine reg delete "$key" /f >/dev/null 2>&1
        rm -f "$startmenu" "$desktop"
    fi

    echo "Installer $SETUP_EXE under Wine, prefix $WINEPREFIX"
    run_setup /S
    check_installed

    # With a display: the installed launcher starts from its Start-menu
    # target, shows its window and makes its settings file.
    if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
        echo "- starting the installed launcher"
        (cd "$dir" && exec wine "$windir\\tessarin.exe" >/dev/null 2>&1) &
        check "launcher window shown within 60 s" wait_for_window
        [ -z "${SCREENSHOT:-}" ] || { sleep 2; import -window root "$SCREENSHOT"; }
        check "settings file made on the first start" [ -f "$settings" ]
        wineserver -k; timeout 60 wineserver -w
        wait
    fi

    # The operator's data, as the launcher makes them.
    printf '[Mysql]\nPassword=secret-%s\n' "$RANDOM" >"$work/settings"
    printf 'log line %s\n' "$RANDOM" >"$work/log"
    cp "$work/settings" "$settings" && cp "$work/log" "$log"

    echo "Installing again over it (an update)"
    run_setup /S
    check_installed
    check_operator_data

    echo "Uninstalling, keeping the settings and logs"
    run_uninstaller /S
    check_uninstalled
    check_operator_data

    echo "Reinstalling"
    run_setup /S
    check_installed
    check_operator_data

    echo "Uninstalling with /PURGE"
    run_uninstaller /S /PURGE
    check_uninstalled
    check "install folder removed" [ ! -e "$dir" ]
    check "empty Orvane folder removed" [ ! -e "$parent" ]

    echo "Installer exercise: $checks checks, $failed failing"
    [ "$failed" = 0 ]
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    exercise_installer
fi
