#!/usr/bin/env bash
# Builds libgphoto2's virtual USB camera from the untouched source release, for the tests only.
#   build-vendor-libgphoto2.sh TARBALL OUTDIR [PATCHDIR]
# Unpacks into OUTDIR/src, applies PATCHDIR/*.patch (ours, in name order) to that copy,
# installs into OUTDIR/prefix and writes OUTDIR/stamp when done.
# Idempotent: a finished OUTDIR built with the same options and patches is left as it is.
# Runs niced, the machine is shared. Translations are built and installed (NLS on), so that
# tests can run the library under a translated desktop language.
set -euo pipefail
tarball=$1
out=$2
patchdir=${3:-}
patches=()
if [ -n "$patchdir" ] && [ -d "$patchdir" ]; then
  for p in "$patchdir"/*.patch; do
    [ -f "$p" ] && patches+=("$p")
  done
fi
options="nls $( ( [ ${#patches[@]} -eq 0 ] || cat "${patches[@]}" ) | cksum)"
if [ -f "$out/stamp" ] && [ "$(cat "$out/stamp")" = "$options" ]; then
  exit 0
fi
rm -f "$out/stamp"
if [ ! -f "$tarball" ]; then
  echo "libgphoto2 source release not found at $tarball: the virtual-camera tests will be skipped" >&2
  exit 0
fi
for tool in autoreconf libtoolize autopoint patch; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (Debian packages autoconf automake libtool autopoint gettext libltdl-dev patch)" >&2
    exit 1
  fi
done
rm -rf "$out/src" "$out/prefix"
mkdir -p "$out/src"
tar -xJf "$tarball" -C "$out/src" --strip-components=1
for p in "${patches[@]}"; do
  patch -s -d "$out/src" -p1 < "$p"
done
cd "$out/src"
log="$out/build.log"
echo "Building libgphoto2's virtual camera into $out (log: $log)"
{
  for p in "${patches[@]}"; do
    echo "Applying $p"
    patch -p1 <"$p"
  done
  nice autoreconf -is
  nice ./configure --prefix="$out/prefix" --enable-vusb --with-camlibs=ptp2 --enable-nls \
       --disable-static --without-libexif --without-libcurl --without-libxml-2.0 --without-gdlib \
       CFLAGS="-O1 -w"
  nice make -j"$(nproc)"
  nice make install
} >"$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
echo "$options" >"$out/stamp"
