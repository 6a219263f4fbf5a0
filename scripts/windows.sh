#!/usr/bin/env bash
# Builds, tests and packages the Windows launcher on Debian (README command 3,
# run as root): MinGW-w64 cross-builds a Qt and the MySQL client library
# (MariaDB Connector/C) from Debian's own sources once, into a cache folder
# outside the source tree keyed by their versions; then the launcher, its
# tests and the demo stand-ins are cross-built, the tests run under Wine on a
# private Xvfb display, and the portable zip and the NSIS installer are made
# and the installer is tried (silent install, start, uninstall) under Wine.
#
#   bash scripts/windows.sh [STAGE...]   stages: toolchain build test package
#                                        (default: all of them, in order)
#
# Environment: TESSARIN_WIN_CACHE (default /var/cache/tessarin-windows),
# BUILD_DIR (default build-win), JOBS (default: the number of cores).
# Outputs: $BUILD_DIR/dist/tessarin-<version>-win64.zip and
# $BUILD_DIR/dist/tessarin-<version>-win64-setup.exe, the Wine test results
# in $BUILD_DIR/wine-tests/.
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR=$PWD

CACHE=${TESSARIN_WIN_CACHE:-/var/cache/tessarin-windows}
BUILD_DIR=${BUILD_DIR:-build-win}
JOBS=${JOBS:-$(nproc)}
MINGW=x86_64-w64-mingw32
STAGES=("$@")
[ ${#STAGES[@]} -gt 0 ] || STAGES=(toolchain build test package)

log() { printf '\n== %s\n' "$*"; }
die() { printf 'windows.sh: %s\n' "$*" >&2; exit 1; }

PACKAGES=(
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    wine wine64 nsis zip unzip
    cmake ninja-build make perl python3 dpkg-dev xz-utils
    xvfb xauth xdotool imagemagick fonts-wqy-microhei locales
    mariadb-server mariadb-client
)

install_packages() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    # The cross Qt and Connector/C are built from Debian's source packages.
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
        log "Adding Debian's source lines (deb-src) to apt's sources"
        cat >/etc/apt/sources.list.d/tessarin-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        NEED_UPDATE=1
    fi
    if ((${#missing[@]})) || [ -n "${NEED_UPDATE:-}" ]; then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
    fi
    if ((${#missing[@]})); then
        log "Installing: ${missing[*]}"
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

source_version() {
    apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}

# The cross tools under the plain prefix Qt's mkspec expects, pointing at the
# posix-thread compilers whatever the system's alternatives say.
make_tool_links() {
    local bin=$1 t
    mkdir -p "$bin"
    for t in gcc g++; do ln -sf "/usr/bin/$MINGW-$t-posix" "$bin/$MINGW-$t"; done
    for t in ar ranlib strip windres objcopy objdump nm ld dlltool; do
        ln -sf "/usr/bin/$MINGW-$t" "$bin/$MINGW-$t"
    done
}

# The versions apt would fetch key the cache: a Debian update of either
# source builds a new toolchain beside the old one.
find_prefix() {
    QT_VERSION=$(source_version qtbase-opensource-src)
    DB_VERSION=$(source_version mariadb)
    [ -n "$QT_VERSION" ] && [ -n "$DB_VERSION" ] \
        || die "apt knows no source of qtbase-opensource-src or mariadb (deb-src lines missing?)"
    PREFIX=$CACHE/qt-${QT_VERSION//[:~]/_}-mariadb-${DB_VERSION//[:~]/_}
}

build_connector() {
    local out=$1 version=$2
    log "Building MariaDB Connector/C (mariadb $version) for Windows"
    local work=$CACHE/work/connector
    rm -rf "$work"; mkdir -p "$work"
    (cd "$work" && apt-get source --download-only -qq "mariadb=$version" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    local orig
    orig=$(ls "$work"/mariadb_*.orig.tar.* | head -n 1)
    tar -C "$work" -xf "$orig" --wildcards '*/libmariadb/*'
    local top
    top=$(ls -d "$work"/*/libmariadb | head -n 1)
    # Authentication plug-ins linked in: a MySQL 8 account (caching_sha2) or
    # a MariaDB ed25519 one must log in without plug-in DLLs beside the exe.
    cmake -S "$top" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$out" \
        -DWITH_SSL=SCHANNEL -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF \
        -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC -DCLIENT_PLUGIN_SHA256_PASSWORD=STATIC \
        -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC -DCLIENT_PLUGIN_DIALOG=STATIC \
        -DCLIENT_PLUGIN_MYSQL_CLEAR_PASSWORD=STATIC -DCLIENT_PLUGIN_PVIO_NPIPE=STATIC \
        -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=OFF \
        -DCLIENT_PLUGIN_REMOTE_IO=OFF >"$work/configure.log" 2>&1 \
        || { tail -n 40 "$work/configure.log"; die "Connector/C did not configure"; }
    cmake --build "$work/build" -j "$JOBS" >"$work/build.log" 2>&1 \
        || { tail -n 40 "$work/build.log"; die "Connector/C did not build"; }
    cmake --install "$work/build" >/dev/null
    rm -rf "$work"
}

qt_source() {
    local version=$1 work=$CACHE/work/qt
    if [ ! -f "$work/.unpacked-$version" ]; then
        rm -rf "$work"; mkdir -p "$work"
        (cd "$work" && apt-get source -qq "qtbase-opensource-src=$version" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
        touch "$work/.unpacked-$version"
    fi
    QT_SRC=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*' | head -n 1)
    [ -n "$QT_SRC" ] || die "the Qt source did not unpack"
}

build_qt() {
    local out=$1 version=$2 bin=$3
    log "Building Qt $version for Windows (about 20 minutes on 2 cores)"
    qt_source "$version"
    local work=$CACHE/work/qt
    # Debian's repack drops the Wintab header (tablets) and SQLite, neither
    # of which the launcher uses.
    (cd "$QT_SRC" && PATH="$bin:$PATH" ./configure -xplatform win32-g++ \
        -device-option CROSS_COMPILE="$MINGW-" -prefix "$out" \
        -opensource -confirm-license -release -shared -strip \
        -nomake examples -nomake tests \
        -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-harfbuzz -qt-freetype \
        -no-icu -no-dbus -no-opengl -no-openssl -no-feature-tabletevent \
        -no-sql-odbc -no-sql-psql -no-sql-sqlite -no-sql-mysql \
        >"$work/configure.log" 2>&1) \
        || { tail -n 60 "$work/configure.log"; die "Qt did not configure"; }
    (cd "$QT_SRC" && PATH="$bin:$PATH" make -j "$JOBS" >"$work/build.log" 2>&1) \
        || { grep -n -m 20 -i 'error' "$work/build.log"; tail -n 40 "$work/build.log"; die "Qt did not build"; }
    (cd "$QT_SRC" && PATH="$bin:$PATH" make install >"$work/install.log" 2>&1) \
        || { tail -n 40 "$work/install.log"; die "Qt did not install"; }
}

# Qt's QMYSQL plug-in against the Connector/C above. Qt 5.15 takes the
# connector's own version number (3.x) for an old MySQL client and then
# encodes query text in the ANSI code page: Chinese text in a script would
# reach the server as "?????". The patch makes it speak UTF-8.
build_qsqlmysql() {
    local out=$1 version=$2 bin=$3
    log "Building Qt's QMYSQL plug-in"
    qt_source "$version"
    local work=$CACHE/work/qt dir=$QT_SRC/src/plugins/sqldrivers
    if ! grep -q clientHasUtf8mb4 "$dir/mysql/qsql_mysql.cpp"; then
        (cd "$QT_SRC" && patch -p1 <"$SOURCE_DIR/packaging/windows/qsqlmysql-utf8.patch" >/dev/null) \
            || die "the QMYSQL patch did not apply"
    fi
    rm -rf "$work/sqldrivers"; mkdir -p "$work/sqldrivers"
    (cd "$work/sqldrivers" && PATH="$bin:$PATH" "$out/bin/qmake" "$dir/sqldrivers.pro" -- \
        MYSQL_INCDIR="$out/include/mariadb" MYSQL_LIBDIR="$out/lib/mariadb" \
        MYSQL_LIBS="-L$out/lib/mariadb -llibmariadb" >"$work/mysql.log" 2>&1 \
        && PATH="$bin:$PATH" make -j "$JOBS" sub-mysql-make_first >>"$work/mysql.log" 2>&1 \
        && PATH="$bin:$PATH" make sub-mysql-install_subtargets >>"$work/mysql.log" 2>&1) \
        || { tail -n 60 "$work/mysql.log"; die "the QMYSQL plug-in did not build"; }
    [ -f "$out/plugins/sqldrivers/qsqlmysql.dll" ] || die "the QMYSQL plug-in is missing after its build"
    cp "$out/lib/mariadb/libmariadb.dll" "$out/bin/"
}

stage_toolchain() {
    install_packages
    local bin=$CACHE/bin
    make_tool_links "$bin"
    find_prefix
    mkdir -p "$PREFIX"
    if [ ! -f "$PREFIX/.connector" ]; then
        build_connector "$PREFIX" "$DB_VERSION"
        touch "$PREFIX/.connector"
    fi
    if [ ! -f "$PREFIX/.qt" ]; then
        build_qt "$PREFIX" "$QT_VERSION" "$bin"
        touch "$PREFIX/.qt"
    fi
    if [ ! -f "$PREFIX/.qsqlmysql" ]; then
        build_qsqlmysql "$PREFIX" "$QT_VERSION" "$bin"
        touch "$PREFIX/.qsqlmysql"
    fi
    log "Cross Qt and Connector/C: $PREFIX"
}

require_toolchain() {
    find_prefix
    [ -f "$PREFIX/.qsqlmysql" ] || die "no cross toolchain in $PREFIX yet: run 'bash scripts/windows.sh toolchain'"
}

# What a Windows program of ours needs beside it: the Qt DLLs, the MySQL
# client library, the MinGW runtime and the plug-ins, with a qt.conf that
# keeps Qt from looking anywhere but this folder (its built-in prefix is a
# path of the build machine, which on Windows names a folder any user could
# create on the current drive).
deploy_runtime() {
    local dir=$1 with_test=${2:-}
    local dlls=(Qt5Core Qt5Gui Qt5Widgets Qt5Sql Qt5Network libmariadb) d f
    [ -z "$with_test" ] || dlls+=(Qt5Test)
    mkdir -p "$dir"
    for d in "${dlls[@]}"; do cp -u "$PREFIX/bin/$d.dll" "$dir/"; done
    for f in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        cp -u "$("$MINGW-g++-posix" -print-file-name="$f")" "$dir/"
    done
    for f in platforms/qwindows styles/qwindowsvistastyle imageformats/qico imageformats/qjpeg \
             imageformats/qgif sqldrivers/qsqlmysql; do
        mkdir -p "$dir/plugins/$(dirname "$f")"
        cp -u "$PREFIX/plugins/$f.dll" "$dir/plugins/$f.dll"
    done
    printf '[Paths]\r\nPrefix=.\r\nPlugins=plugins\r\n' >"$dir/qt.conf"
}

stage_build() {
    require_toolchain
    log "Cross-building the launcher, its tests and the demo into $BUILD_DIR"
    cmake -S . -B "$BUILD_DIR" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/mingw-w64-x86_64.cmake" \
        -DTESSARIN_WIN_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release \
        -DTESSARIN_BUILD_BENCH=OFF >/dev/null
    cmake --build "$BUILD_DIR" -j "$JOBS"
    deploy_runtime "$BUILD_DIR/launcher"
    [ ! -d "$BUILD_DIR/tests" ] || deploy_runtime "$BUILD_DIR/tests" with-test
    [ ! -d "$BUILD_DIR/demo" ] || deploy_runtime "$BUILD_DIR/demo"
}

# A Wine prefix of our own (made once, in the cache) with a Chinese
# Windows' ANSI code page (936), as the operators have.
wine_env() {
    if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf-\?8$'; then
        sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
        locale-gen >/dev/null
    fi
    export WINEPREFIX=${WINEPREFIX:-$CACHE/wine}
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko installer dialogs: nothing here needs them.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
    if [ ! -f "$WINEPREFIX/.tessarin-ready" ]; then
        log "Making the Wine prefix $WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || true
        wineserver --wait || true
        touch "$WINEPREFIX/.tessarin-ready"
    fi
    # Wine hands no QT_* variable of Linux on to Windows programs, so this
    # one lives in the prefix: without a console window Qt Test would report
    # to the debugger only, and CTest would show nothing of a failure.
    wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null 2>&1
    # Windows' dialog font (Tahoma) and its Chinese fonts are not here: GDI
    # would fall back to the first font it knows, a maths font four lines
    # high. WenQuanYi stands in for them, as Microsoft YaHei does on a
    # Chinese Windows.
    local f
    for f in Tahoma SimSun 'Microsoft YaHei'; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
    done
    wineserver --wait || true
}

XVFB_PID=
start_xvfb() {
    local fifo
    fifo=$(mktemp -u); mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 "${SCREEN:-1280x720x24}" 3>"$fifo" 2>/dev/null &
    XVFB_PID=$!
    local n
    read -r -t 30 n <"$fifo" || die "Xvfb did not start"
    rm -f "$fifo"
    export DISPLAY=":$n"
    trap stop_xvfb EXIT
}
stop_xvfb() {
    wineserver -k 2>/dev/null || true
    [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
}

stage_test() {
    require_toolchain
    [ -d "$BUILD_DIR/tests" ] || die "no Windows test build in $BUILD_DIR: run the build stage"
    bash scripts/start-mariadb.sh >/dev/null
    wine_env
    start_xvfb
    log "Running the tests under Wine on display $DISPLAY (LANG=$LANG)"
    local status=0 results=$BUILD_DIR/wine-tests
    (cd "$BUILD_DIR" && ctest --output-on-failure --timeout 600) || status=$?
    stop_xvfb
    # Every test's whole report stays; what was skipped is named with why.
    mkdir -p "$results"
    cp "$BUILD_DIR/Testing/Temporary/LastTest.log" "$results/tests.log"
    log "Skipped under Wine (full reports: $results/tests.log)"
    grep -a '^SKIP' "$results/tests.log" | tr -d '\r' || echo "nothing"
    return "$status"
}

stage_package() {
    require_toolchain
    local version dist stage
    version=$(sed -n 's/^project(tessarin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    dist=$BUILD_DIR/dist
    stage=$dist/tessarin
    log "Packaging tessarin $version for Windows in $dist"
    rm -rf "$stage"; mkdir -p "$stage/config"
    cp "$BUILD_DIR/launcher/tessarin.exe" "$stage/"
    "$MINGW-strip" "$stage/tessarin.exe"
    # The operator's settings are made on the first start, never shipped.
    cp -r config/. "$stage/config/"
    rm -f "$stage/config/SetupConfig.ini"
    deploy_runtime "$stage"
    local zipfile=$dist/tessarin-$version-win64.zip setup=$dist/tessarin-$version-win64-setup.exe
    rm -f "$zipfile"
    (cd "$dist" && zip -qr9 "$(basename "$zipfile")" tessarin)
    makensis -V2 -DVERSION="$version" -DSOURCE_DIR="$(realpath "$stage")" -DOUTFILE="$(realpath "$dist")/$(basename "$setup")" \
        packaging/windows/tessarin.nsi
    log "Trying the installer under Wine"
    wine_env
    start_xvfb
    SETUP_EXE=$setup SOURCE_DIR=$stage VERSION=$version SCREENSHOT=$dist/installed-launcher.png \
        bash packaging/windows/exercise-installer.sh
    stop_xvfb
    log "Packages: $(du -h "$zipfile" | cut -f1) $zipfile, $(du -h "$setup" | cut -f1) $setup"
}

for stage in "${STAGES[@]}"; do
    case $stage in
    toolchain) stage_toolchain ;;
    build) stage_build ;;
    test) stage_test ;;
    package) stage_package ;;
    *) die "unknown stage '$stage'" ;;
    esac
done
