#!/bin/sh
# Builds the Debian package from build/ and checks what it declares and holds:
# the dependencies, the section, the maintainer scripts and every installed
# file. Prints the package's Depends line.
set -eu
cd "$(dirname "$0")/../build"
rm -f corvanta-viewer_*.deb
cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb=$(ls corvanta-viewer_*.deb)
info=$(dpkg-deb -I "$deb")
files=$(dpkg-deb -c "$deb" | awk '{print $6}')

fail=0
need() { # need WHAT TEXT PATTERN
  if ! printf '%s\n' "$2" | grep -Eq -- "$3"; then
    echo "check-package: $deb lacks $1 ($3)"
    fail=1
  fi
}
depends=$(printf '%s\n' "$info" | sed -n 's/^ Depends: //p')
for dep in libgpgme11 libqt6webenginewidgets6 libqt6pdf6 libqt6widgets6 qt6-qpa-plugins media-types xdg-utils hicolor-icon-theme; do
  need "the dependency" "$depends" "(^|, )$dep( |,|$)"
done
need "the section" "$info" '^ Section: mail$'
need "the description" "$info" '^ Description: viewer for stored e-mail messages'
need "the postinst" "$info" '[*] +postinst '
need "the postrm" "$info" '[*] +postrm '
need "the postinst's desktop update" "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst)" 'update-desktop-database'
for f in bin/corvanta-viewer bin/corvanta-eml share/applications/corvanta-viewer.desktop \
         share/metainfo/example.corvanta.viewer.metainfo.xml \
         share/icons/hicolor/scalable/apps/corvanta-viewer.svg \
         share/icons/hicolor/16x16/apps/corvanta-viewer.png share/icons/hicolor/256x256/apps/corvanta-viewer.png \
         share/man/man1/corvanta-viewer.1.gz share/man/man1/corvanta-eml.1.gz \
         libexec/corvanta/corvanta-gpgsm-offline; do
  need "a file" "$files" "^\./usr/$f$"
done

echo "$deb: $(du -k "$deb" | cut -f1) KiB"
echo "Depends: $depends"
exit $fail
