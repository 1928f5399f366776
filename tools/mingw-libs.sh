#!/usr/bin/env bash
# The third-party static libraries that vistrel-app.exe links, built for
# x86_64-w64-mingw32 (Debian's mingw-w64, posix threads) from Debian's own
# source packages, or taken from an earlier build: libjpeg-turbo's TurboJPEG
# (SIMD on), libvpx's VP8 encoder and libwebm's muxer (mkvmuxer, which
# libvpx's source carries). Prints the prefix that holds them: include/,
# lib/, licenses/ (each library's licence files) and versions.txt (the
# exact Debian source versions built).
#
#   tools/mingw-libs.sh            build what the cache lacks, print the prefix
#   tools/mingw-libs.sh --cached   build nothing, touch no network: print the
#                                  prefix when every library is cached, else fail
#   tools/mingw-libs.sh --refresh  ask the archive for a newer Debian revision of
#                                  the pinned versions (a security update) even
#                                  when a build is cached, and build it
#   tools/mingw-libs.sh --deb-src  print the deb-src entries it would use, and
#                                  do nothing else
#
# The cache lives outside the clone, in
# ${VISTREL_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vistrel}/mingw, one
# folder per library, Debian version and hash of the recipe (the library's
# build function in this script, the compilers, nasm, and for libjpeg-turbo
# CMake and cmake/mingw-w64.cmake), so that a changed recipe builds again and
# an unchanged one is reused. The sources come through a private apt
# configuration in the cache: deb-src entries derived at run time from this
# machine's own Debian entries (sources.list and sources.list.d, one-line
# and deb822), with lists and downloads of its own; the system's apt
# configuration is left as it is. Needs no root and reads no standard input;
# run it as the user who builds (under sudo the cache is root's). The Debian
# packages it uses (nasm, dpkg-dev, cmake, ninja-build,
# g++-mingw-w64-x86-64-posix) are in tools/packages.txt.
set -euo pipefail
exec < /dev/null

root=$(cd "$(dirname "$0")/.." && pwd)
mode=build
case ${1:-} in
    "") ;;
    --cached) mode=cached ;;
    --refresh) mode=refresh ;;
    --deb-src) mode=deb-src ;;
    -h | --help)
        sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "usage: tools/mingw-libs.sh [--cached | --refresh | --deb-src]" >&2
        exit 2
        ;;
esac

# The upstream versions Debian 12 ships; the Debian revision is the newest
# the archive offers for them, and is recorded with the build.
libraries=(libjpeg-turbo libvpx)
declare -A upstream=([libjpeg-turbo]=2.1.5 [libvpx]=1.12.0)

cc=x86_64-w64-mingw32-gcc-posix
cxx=x86_64-w64-mingw32-g++-posix
cache=${VISTREL_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:?neither VISTREL_CACHE_DIR nor HOME is set}/.cache}/vistrel}/mingw
jobs=$(nproc)

say() { echo "mingw-libs: $*" >&2; }
fail() {
    say "$*"
    exit 1
}

# --- The recipes. Each builds one library from the unpacked source in
# $1 into the prefix $2, and nothing it does not need: no shared library,
# examples, tools, documentation or tests.

build_libjpeg_turbo() {  # SOURCE PREFIX
    cmake -S "$1" -B "$1/build-mingw" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$2" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF \
        -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
    cmake --build "$1/build-mingw" --target turbojpeg-static -j "$jobs"
    install -D -m 644 "$1/build-mingw/libturbojpeg.a" "$2/lib/libturbojpeg.a"
    install -D -m 644 "$1/turbojpeg.h" "$2/include/turbojpeg.h"
    install -D -m 644 -t "$2/licenses/libjpeg-turbo" "$1/LICENSE.md" "$1/README.ijg" "$1/debian/copyright"
}

build_libvpx() {  # SOURCE PREFIX
    mkdir -p "$1/build-mingw"
    (
        cd "$1/build-mingw"
        CROSS=x86_64-w64-mingw32- CC=$cc CXX=$cxx ../configure \
            --target=x86_64-win64-gcc --as=nasm --prefix="$2" \
            --enable-static --disable-shared \
            --enable-vp8-encoder --disable-vp8-decoder --disable-vp9 \
            --enable-realtime-only --enable-runtime-cpu-detect \
            --disable-examples --disable-tools --disable-docs --disable-unit-tests \
            --disable-install-docs --disable-install-bins --disable-webm-io --disable-libyuv \
            --disable-dependency-tracking
        make -j "$jobs"
        make install
    )
    rm -rf "$2/lib/pkgconfig"
    # libwebm's muxer, from the copy in libvpx's source.
    local webm=$1/third_party/libwebm
    mkdir -p "$1/build-mingw/mkvmuxer"
    local part
    for part in mkvmuxer mkvmuxerutil mkvwriter; do
        "$cxx" -std=c++11 -O2 -DNDEBUG -I"$webm" -c "$webm/mkvmuxer/$part.cc" -o "$1/build-mingw/mkvmuxer/$part.o" &
    done
    wait
    x86_64-w64-mingw32-ar rcs "$2/lib/libmkvmuxer.a" "$1"/build-mingw/mkvmuxer/*.o
    install -D -m 644 -t "$2/include/libwebm/mkvmuxer" "$webm"/mkvmuxer/*.h
    install -D -m 644 -t "$2/include/libwebm/common" "$webm"/common/*.h
    install -D -m 644 -t "$2/licenses/libvpx" "$1/LICENSE" "$1/PATENTS" "$1/AUTHORS" "$1/debian/copyright"
    install -D -m 644 -t "$2/licenses/libwebm" "$webm/LICENSE.TXT" "$webm/PATENTS.TXT" "$webm/AUTHORS.TXT"
}

recipe() {  # LIBRARY
    echo "${1//-/_}"
}

# The tools a build depends on, by their Debian package versions (a
# compiler's --version says little more than "12-posix").
toolchain_versions() {
    dpkg-query -W -f '${Package} ${Version}\n' gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
        mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 nasm cmake 2> /dev/null || true
    "$cxx" --version | head -n 1
    nasm -v
    cmake --version | head -n 1
}

recipe_hash() {  # LIBRARY
    {
        declare -f "build_$(recipe "$1")"
        echo "${upstream[$1]}"
        echo "$toolchain"
        [ "$1" != libjpeg-turbo ] || cat "$root/cmake/mingw-w64.cmake"
    } | sha256sum | cut -c 1-12
}

# The newest build in the cache of LIBRARY for recipe HASH, as a folder
# name (VERSION_HASH, the version without its epoch); nothing when none.
newest_cached() {  # LIBRARY HASH
    local best="" name version
    for path in "$cache/$1"/*_"$2"; do
        [ -f "$path/build-info.txt" ] || continue
        name=${path##*/}
        version=${name%_"$2"}
        [[ $version == "${upstream[$1]}"-* ]] || continue
        if [ -z "$best" ] || dpkg --compare-versions "$version" gt "${best%_"$2"}"; then best=$name; fi
    done
    echo "$best"
}

# --- Debian's sources, through a private apt configuration.

apt_dir=$cache/apt
apt_conf=$apt_dir/apt.conf
apt_ready=no
# The machine's apt folder and release file; the tests point them at samples.
apt_etc=${VISTREL_APT_ETC:-/etc/apt}
os_release=${VISTREL_OS_RELEASE:-/etc/os-release}

# deb-src twins of this machine's own Debian entries: those whose suite is
# this release (its codename, -updates, -security). Others (backports,
# third-party archives) are left out: their versions are not what Debian
# ships, and many have no sources.
debian_suite_pattern() {
    local codename
    codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || fail "cannot tell this Debian release's codename from $os_release"
    echo "^${codename}(-updates|-security)?\$"
}

one_line_sources() {  # PATTERN FILE...
    awk -v pattern="$1" '
        /^[ \t]*deb[ \t]/ {
            line = $0
            sub(/^[ \t]*deb[ \t]+/, "", line)
            options = ""
            if (line ~ /^\[/) {
                options = substr(line, 1, index(line, "]"))
                line = substr(line, index(line, "]") + 1)
                sub(/^[ \t]+/, "", line)
            }
            n = split(line, word, /[ \t]+/)
            if (n >= 2 && word[2] ~ pattern) {
                rest = ""
                for (i = 3; i <= n; i++) rest = rest " " word[i]
                print "deb-src " (options == "" ? "" : options " ") word[1] " " word[2] rest
            }
        }' "${@:2}"
}

deb822_sources() {  # PATTERN FILE...
    awk -v pattern="$1" '
        function flush(   i, n, kept, word) {
            if (types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) != "no") {
                n = split(suites, word, /[ \t]+/)
                kept = ""
                for (i = 1; i <= n; i++) if (word[i] ~ pattern) kept = kept " " word[i]
                if (kept != "") print "Types: deb-src\nSuites:" kept "\n" body
            }
            types = ""; suites = ""; enabled = "yes"; body = ""; field = ""
        }
        BEGIN { enabled = "yes" }
        FNR == 1 && NR > 1 { flush() }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { if (field != "types" && field != "suites" && field != "enabled") body = body "\n" $0; next }
        {
            field = tolower(substr($0, 1, index($0, ":") - 1))
            value = substr($0, index($0, ":") + 1)
            sub(/^[ \t]+/, "", value)
            if (field == "types") types = value
            else if (field == "suites") suites = value
            else if (field == "enabled") enabled = value
            else body = (body == "" ? "" : body "\n") $0
        }
        END { flush() }' "${@:2}"
}

# Writes DIR/sources.list (one-line entries) and
# DIR/sources.list.d/debian-src.sources (deb822).
write_deb_src() {  # DIR
    local pattern one_line=() deb822=()
    pattern=$(debian_suite_pattern)
    [ -f "$apt_etc/sources.list" ] && one_line+=("$apt_etc/sources.list")
    shopt -s nullglob
    one_line+=("$apt_etc"/sources.list.d/*.list)
    deb822+=("$apt_etc"/sources.list.d/*.sources)
    shopt -u nullglob
    rm -rf "$1/sources.list.d"
    mkdir -p "$1/sources.list.d"
    : > "$1/sources.list"
    [ ${#one_line[@]} -eq 0 ] || one_line_sources "$pattern" "${one_line[@]}" > "$1/sources.list"
    [ ${#deb822[@]} -eq 0 ] || deb822_sources "$pattern" "${deb822[@]}" | awk 'NR > 1 && /^Types:/ { print "" } 1' \
        > "$1/sources.list.d/debian-src.sources"
    if [ ! -s "$1/sources.list" ] && [ ! -s "$1/sources.list.d/debian-src.sources" ]; then
        fail "no Debian entry for this release in $apt_etc/sources.list or $apt_etc/sources.list.d/ to take the sources from"
    fi
}

apt_prepare() {
    [ "$apt_ready" = yes ] && return
    write_deb_src "$apt_dir"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    # Read after the system's apt.conf.d (given with -c), so that these
    # folders win while proxies and other settings still apply.
    cat > "$apt_conf" << EOF
Dir::Etc::SourceList "$apt_dir/sources.list";
Dir::Etc::SourceParts "$apt_dir/sources.list.d";
Dir::State::Lists "$apt_dir/lists";
Dir::Cache "$apt_dir";
Dir::Cache::Archives "$apt_dir/archives";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
APT::Sandbox::User "$(id -un)";
EOF
    say "updating the private index of Debian's sources"
    if ! apt-get -c "$apt_conf" -q update > "$apt_dir/update.log" 2>&1; then
        cat "$apt_dir/update.log" >&2
        fail "apt-get update failed with the deb-src entries in $apt_dir"
    fi
    apt_ready=yes
}

# The newest Debian version of source package LIBRARY at its pinned upstream version.
newest_source_version() {  # LIBRARY
    local best="" version
    while read -r version; do
        [[ ${version#*:} == "${upstream[$1]}"-* ]] || continue
        if [ -z "$best" ] || dpkg --compare-versions "$version" gt "$best"; then best=$version; fi
    done < <(apt-cache -c "$apt_conf" showsrc --only-source "$1" 2> /dev/null | sed -n 's/^Version: //p')
    [ -n "$best" ] || fail "Debian's archive offers no source of $1 ${upstream[$1]}"
    echo "$best"
}

# --- Building one library into the cache.

build_library() {  # LIBRARY VERSION HASH
    local library=$1 version=$2 hash=$3
    local name=${version#*:}_$hash
    local final=$cache/$library/$name
    local work=$cache/work/$library-$$
    local downloads=$cache/downloads/${library}_${version#*:}
    local started=$SECONDS
    rm -rf "$work"
    mkdir -p "$work/download" "$cache/downloads" "$cache/logs"
    local log=$cache/logs/$library-$name.log
    say "building $library $version (log: $log)"
    if [ ! -d "$downloads" ]; then
        (cd "$work/download" && apt-get -c "$apt_conf" -q source --download-only "$library=$version") > "$log" 2>&1 ||
            {
                tail -n 20 "$log" >&2
                rm -rf "$work"
                fail "cannot download the source of $library $version"
            }
        mv -T "$work/download" "$downloads"
    fi
    local dsc
    dsc=$(ls "$downloads"/*.dsc)
    local staging=$cache/$library/.staging-$name-$$
    rm -rf "$staging"
    # A subshell of its own, outside any condition, so that set -e stops the
    # recipe at its first failing command.
    set +e
    (
        set -e
        dpkg-source -x "$dsc" "$work/source"
        "build_$(recipe "$library")" "$work/source" "$staging"
        printf 'library %s\ndebian-source-version %s\nrecipe-hash %s\nbuilt %s\ntoolchain:\n%s\n' \
            "$library" "$version" "$hash" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$toolchain" \
            > "$staging/build-info.txt"
    ) >> "$log" 2>&1
    local status=$?
    set -e
    if [ $status -ne 0 ]; then
        tail -n 40 "$log" >&2
        rm -rf "$work" "$staging"
        fail "building $library $version failed; the whole log is $log"
    fi
    rm -rf "$work" "$final"
    mv -T "$staging" "$final"
    say "built $library $version in $((SECONDS - started)) s"
}

# --- The prefix: symbolic links to each library's files, in a folder keyed
# by the builds it links to.

assemble_prefix() {  # LIBRARY/NAME...
    local key prefix staging item part
    key=$(printf '%s\n' "$@" | sha256sum | cut -c 1-12)
    prefix=$cache/prefix/$key
    if [ ! -f "$prefix/versions.txt" ]; then
        staging=$cache/prefix/.staging-$key-$$
        rm -rf "$staging"
        mkdir -p "$staging/include" "$staging/lib" "$staging/licenses"
        for item in "$@"; do
            for part in include lib licenses; do
                for entry in "$cache/$item/$part"/*; do
                    ln -s "$entry" "$staging/$part/${entry##*/}"
                done
            done
            sed -n 's/^debian-source-version /'"${item%%/*}"' /p' "$cache/$item/build-info.txt" >> "$staging/versions.txt"
        done
        # Another run may have made the same prefix meanwhile: then its stays.
        mv -T "$staging" "$prefix" 2> /dev/null || rm -rf "$staging"
        [ -f "$prefix/versions.txt" ] || fail "cannot make the prefix $prefix"
    fi
    echo "$prefix"
}

# --- Main.

if [ "$mode" = deb-src ]; then
    shown=$(mktemp -d)
    trap 'rm -rf "$shown"' EXIT
    write_deb_src "$shown"
    cat "$shown/sources.list"
    [ ! -s "$shown/sources.list" ] || [ ! -s "$shown/sources.list.d/debian-src.sources" ] || echo
    cat "$shown/sources.list.d/debian-src.sources"
    exit 0
fi

for tool in "$cc" "$cxx" nasm cmake ninja make dpkg-source apt-get; do
    command -v "$tool" > /dev/null ||
        fail "$tool is missing; install the Debian packages of tools/packages.txt (bash tools/install-packages.sh)"
done

toolchain=$(toolchain_versions)
declare -A hash chosen
for library in "${libraries[@]}"; do
    hash[$library]=$(recipe_hash "$library")
    chosen[$library]=$(newest_cached "$library" "${hash[$library]}")
done

if [ "$mode" = cached ]; then
    for library in "${libraries[@]}"; do
        [ -n "${chosen[$library]}" ] || fail "$library is not built for this recipe yet; run tools/mingw-libs.sh"
    done
else
    mkdir -p "$cache"
    # One build at a time on this machine; a second caller waits, then reuses.
    exec 9> "$cache/lock"
    flock 9
    # What a run stopped halfway left behind; no other build runs now.
    rm -rf "$cache/work" "$cache"/*/.staging-* "$cache"/prefix/.staging-*
    for library in "${libraries[@]}"; do
        chosen[$library]=$(newest_cached "$library" "${hash[$library]}")
        if [ -z "${chosen[$library]}" ] || [ "$mode" = refresh ]; then
            apt_prepare
            version=$(newest_source_version "$library")
            chosen[$library]=${version#*:}_${hash[$library]}
            [ -f "$cache/$library/${chosen[$library]}/build-info.txt" ] ||
                build_library "$library" "$version" "${hash[$library]}"
        fi
    done
fi

items=()
for library in "${libraries[@]}"; do items+=("$library/${chosen[$library]}"); done
assemble_prefix "${items[@]}"
