#!/bin/sh
# Files the cross-built tests expect inside the Wine prefix: a Linux symbolic link, which Wine
# shows to Windows programs as a link to resolve.
set -eu
fixtures="${WINEPREFIX:?}/drive_c/norix-fixtures"
mkdir -p "$fixtures/Target/inner"
ln -sfn "$fixtures/Target" "$fixtures/link"
# A drive whose root is a real directory outside drive C: M: for drive-root cases.
mdrive="${WINEPREFIX:?}/../m-drive"
mkdir -p "$mdrive"
ln -sfn "$(cd "$mdrive" && pwd)" "${WINEPREFIX:?}/dosdevices/m:"
