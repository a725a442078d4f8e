#!/bin/sh
# Installs the Debian packages Halbrook needs: with --run only what building and
# running the program takes, else also everything the tests use.
# Idempotent: when everything is already there it installs nothing and says nothing.
set -eu

# libc-l10n: the system's own reasons in messages ("No space left on device")
# in the program's language.
RUN_PACKAGES="
build-essential cmake pkg-config ninja-build
libgtk2.0-dev libglib2.0-dev zlib1g-dev gettext
xdg-utils fonts-ipafont-gothic libc-l10n
"
TEST_PACKAGES="
libgtest-dev libgmock-dev libbenchmark-dev
clang libclang-rt-dev clang-format
xvfb xauth xdotool xclip openbox locales time
dosfstools mtools ntfs-3g ntfs-3g-dev libntfs-3g89 fdisk sleuthkit
imagemagick
zip arj lhasa libarchive-tools python3
libimage-exiftool-perl
ffmpeg lame sox mjpegtools libtiff-tools libjpeg-turbo-progs
libgsf-bin msitools
"

PACKAGES=$RUN_PACKAGES
if [ "${1:-}" != "--run" ]; then
    PACKAGES="$RUN_PACKAGES $TEST_PACKAGES"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
need_root() {
    if [ -n "$SUDO" ] && ! command -v sudo >/dev/null 2>&1; then
        echo "$1" >&2
        echo "Installing them needs root: run this script as root, or install sudo." >&2
        exit 1
    fi
}

if [ -n "$missing" ]; then
    need_root "These Debian packages are missing:$missing"
    echo "Installing:$missing"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

# The German and Japanese window tests run under their own locales, which a
# fresh Debian machine does not generate.
if [ "${1:-}" != "--run" ]; then
    for name in de_DE ja_JP; do
        if ! locale -a | grep -qix "$name.utf-\?8"; then
            need_root "The locale $name.UTF-8 is missing."
            $SUDO localedef -i "$name" -f UTF-8 "$name.UTF-8"
        fi
    done
fi
