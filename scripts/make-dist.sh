#!/usr/bin/env bash
# make-dist.sh: packs the Windows modules of build/win32 and build/win64 into
# dist/veltrane-<version>-windows.zip, with an install note. The modules are
# stripped of their symbols in the package (the build keeps them).
set -euo pipefail
cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."

version=$(sed -n 's/^project(veltrane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "make-dist: no project version in CMakeLists.txt" >&2; exit 1; }
name=veltrane-$version-windows
stage=dist/$name
zip=dist/$name.zip

rm -rf "$stage" "$zip"
mkdir -p "$stage"
for arch in 32 64; do
  case $arch in
    32) tools=i686-w64-mingw32; format=pei-i386 ;;
    64) tools=x86_64-w64-mingw32; format=pei-x86-64 ;;
  esac
  mkdir -p "$stage/$arch-bit"
  for module in halvane mirelle; do
    src=build/win$arch/bin/$module.8bf
    [ -f "$src" ] || { echo "make-dist: $src is missing (build the win$arch preset first)" >&2; exit 1; }
    # A module of the wrong architecture in the wrong folder would not load.
    "$tools-objdump" -f "$src" | grep -q "file format $format\$" || {
      echo "make-dist: $src is not a $arch-bit Windows module" >&2; exit 1; }
    "$tools-strip" -o "$stage/$arch-bit/$module.8bf" "$src"
  done
done

cat > "$stage/INSTALL.txt" <<NOTE
Veltrane $version for Windows: halvane (noise reduction) and mirelle (smooth-area matte)

Each folder holds the two filter plug-ins for one kind of image editor:

  64-bit\halvane.8bf, 64-bit\mirelle.8bf   for 64-bit editors (most editors today)
  32-bit\halvane.8bf, 32-bit\mirelle.8bf   for 32-bit editors

To install, quit the editor and copy the two .8bf files of the folder that
matches the editor into the editor's plug-ins folder: usually a folder named
"Plug-ins" (or "Plugins", sometimes with a "Filters" folder inside) in the
editor's installation folder, or the folder set as the plug-ins folder in the
editor's preferences. A 32-bit editor cannot load the 64-bit files, nor a
64-bit editor the 32-bit ones: if the filters do not appear, check which kind
of editor you have. Then start the editor; the filters are under Veltrane in
its filter menu.

Each plug-in is one file and needs nothing else: no runtime library, no
registry entry. To remove them, delete the two files.
NOTE
# Windows line ends for a note read on Windows.
sed -i 's/$/\r/' "$stage/INSTALL.txt"

(cd dist && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "make-dist: wrote $zip"
unzip -l "$zip" 2>/dev/null || cmake -E tar tf "$zip"
