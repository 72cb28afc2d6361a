#!/bin/sh
# Files the cross-built tests expect inside the Wine prefix: a Linux symbolic link, which Wine
# shows to Windows programs as a link to resolve.
set -eu
fixtures="${WINEPREFIX:?}/drive_c/norix-fixtures"
mkdir -p "$fixtures/Target/inner"
ln -sfn "$fixtures/Target" "$fixtures/link"
