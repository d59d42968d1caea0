#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks a built Debian package: its control fields, and that unpacked into a scratch root it holds the program,
# its launcher entry and its icon where a desktop finds them, its copyright, changelog and manual page where Debian
# wants them, and nothing else.
# Usage: package-contents.sh zrk-server_VERSION_ARCH.deb
#   (needs dpkg-dev, file, desktop-file-utils, groff-base, man-db)
set -eu
deb=$1
fail() { echo "FAIL: $*"; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
# Library dependencies are computed from the binary, so the Qt libraries it links must be named.
for library in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libexif12 libqt6dbus6; do
    echo "$depends" | grep -Eq "(^|, )$library( |,|$)" || fail "Depends lacks $library: $depends"
done
echo "$recommends" | grep -Eq "(^|, )bluez-obexd(,|$)" || fail "Recommends lacks bluez-obexd: $recommends"
suggests=$(dpkg-deb -f "$deb" Suggests)
echo "$suggests" | grep -Eq "(^|, )obexftp(,|$)" || fail "Suggests lacks obexftp: $suggests"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

expected='usr/bin/zrk-server
usr/share/applications/zrk-server.desktop
usr/share/doc/zrk-server/changelog.gz
usr/share/doc/zrk-server/copyright
usr/share/icons/hicolor/scalable/apps/zrk-server.svg
usr/share/man/man1/zrk-server.1.gz'
found=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$found" = "$expected" ] || fail "package files differ from the expected ones:
$found"

binary=$root/usr/bin/zrk-server
entry=$root/usr/share/applications/zrk-server.desktop
icon=$root/usr/share/icons/hicolor/scalable/apps/zrk-server.svg
[ -x "$binary" ] || fail "the program is not executable"
file -b "$binary" | grep -q '^ELF .* executable' || fail "the program is not an ELF executable: $(file -b "$binary")"
desktop-file-validate "$entry" || fail "the launcher entry does not validate"
file -b "$icon" | grep -q 'SVG' || fail "the icon is not an SVG image: $(file -b "$icon")"
# The entry must name what the package installs: the launcher runs Exec from PATH and looks Icon up in the theme.
grep -qx 'Exec=zrk-server' "$entry" || fail "the entry does not start zrk-server"
grep -qx 'Icon=zrk-server' "$entry" || fail "the entry does not name the installed icon"
grep -qx 'Name=ZRK Server' "$entry" || fail "the entry is not named ZRK Server"

# The copyright in Debian's machine-readable format, under the licence the sources carry.
copyright=$root/usr/share/doc/zrk-server/copyright
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" \
    || fail "the copyright file is not machine-readable"
grep -qx 'License: GPL-3+' "$copyright" || fail "the copyright file does not name GPL-3+"
# The changelog's latest entry is the package's version.
zcat "$root/usr/share/doc/zrk-server/changelog.gz" >"$root/changelog" || fail "the changelog is not gzip data"
changelog_version=$(dpkg-parsechangelog -l "$root/changelog" -S Version)
[ "$changelog_version" = "$(dpkg-deb -f "$deb" Version)" ] \
    || fail "the changelog's latest version $changelog_version is not the package's"
# The manual page renders without a warning, and man's index finds its name line.
page=$root/usr/share/man/man1/zrk-server.1.gz
warnings=$(zcat "$page" | groff -ww -z -man 2>&1) || fail "groff could not render the manual page"
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
lexgrog "$page" | grep -q ': "zrk-server - ' || fail "man's index finds no name line: $(lexgrog "$page")"
echo "PASS: $(basename "$deb") holds the program, its launcher entry, its icon, its copyright, changelog and manual page"
