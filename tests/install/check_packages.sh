#!/usr/bin/env bash
# Checks the packages: the .deb and each Windows zip hold what they must, and the tool runs from
# the .deb unpacked into a scratch root (against the libraries of the package, not of the build).
# Usage: check_packages.sh PACKAGE.deb|PACKAGE.zip...
set -euo pipefail

failures=0

# Fails unless every path named after LISTING appears in it (as a path ending a listing line).
expect_listed() {
  local what=$1 listing=$2
  shift 2
  for path in "$@"; do
    if ! grep -qE "(^| |\./)${path//./\\.}( -> .*)?$" <<<"$listing"; then
      echo "FAILED: $what lacks $path"
      failures=$((failures + 1))
    fi
  done
}

check_deb() {
  local deb=$1 multiarch root version
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  local lib=usr/lib/$multiarch
  local listing
  listing=$(dpkg-deb -c "$deb")
  expect_listed "$deb" "$listing" \
    usr/bin/vudaduv usr/share/man/man1/vudaduv.1 \
    usr/include/vudaduv.h usr/include/wqdatasend.h usr/include/wqcommsend.h \
    $lib/libvudaduv.so.1.0.0 $lib/libvudaduv.so.1 $lib/libvudaduv.so \
    $lib/libwqdatasend.so.1.0.0 $lib/libwqdatasend.so.1 $lib/libwqdatasend.so \
    $lib/libwqcommsend.so.1.0.0 $lib/libwqcommsend.so.1 $lib/libwqcommsend.so \
    $lib/cmake/vudaduv/vudaduvConfig.cmake $lib/cmake/vudaduv/vudaduvConfigVersion.cmake \
    $lib/cmake/vudaduv/vudaduvTargets.cmake \
    $lib/pkgconfig/vudaduv.pc $lib/pkgconfig/wqdatasend.pc $lib/pkgconfig/wqcommsend.pc \
    usr/share/doc/vudaduv/LICENSE usr/share/doc/vudaduv/README.md

  root=$(mktemp -d)
  dpkg -x "$deb" "$root"
  version=$(dpkg-deb -f "$deb" Version)
  if ! readelf -d "$root/$lib/libvudaduv.so.1.0.0" | grep -q 'SONAME.*\[libvudaduv\.so\.1\]'; then
    echo "FAILED: libvudaduv.so.1.0.0 in $deb has no SONAME libvudaduv.so.1"
    failures=$((failures + 1))
  fi
  local said
  said=$("$root/usr/bin/vudaduv" --version)
  if [ "$said" != "vudaduv $version" ]; then
    echo "FAILED: the tool of $deb says '$said', the package is version $version"
    failures=$((failures + 1))
  fi
  # The tool finds the package's libraries beside it, not a copy elsewhere, and they work.
  if ! ldd "$root/usr/bin/vudaduv" | grep -q "libvudaduv.so.1 => $root/"; then
    echo "FAILED: the tool of $deb does not load the package's libvudaduv.so.1"
    failures=$((failures + 1))
  fi
  "$root/usr/bin/vudaduv" demo >/dev/null || {
    echo "FAILED: the demo of $deb failed"
    failures=$((failures + 1))
  }
  rm -rf "$root"
  echo "$deb: checked (version $version)"
}

check_zip() {
  local zip=$1 top
  top=$(basename "$zip" .zip)
  local listing
  listing=$(unzip -l "$zip")
  expect_listed "$zip" "$listing" \
    "$top/bin/VUDADUV.dll" "$top/bin/WQDATASEND.dll" "$top/bin/WQCOMMSEND.dll" \
    "$top/bin/vudaduv.exe" \
    "$top/lib/libVUDADUV.dll.a" "$top/lib/libWQDATASEND.dll.a" "$top/lib/libWQCOMMSEND.dll.a" \
    "$top/include/vudaduv.h" "$top/include/wqdatasend.h" "$top/include/wqcommsend.h" \
    "$top/README.md" "$top/LICENSE"
  echo "$zip: checked"
}

for package in "$@"; do
  case "$package" in
    *.deb) check_deb "$package" ;;
    *.zip) check_zip "$package" ;;
    *) echo "FAILED: $package is no package"; failures=$((failures + 1)) ;;
  esac
done
if [ "$failures" -gt 0 ]; then
  echo "$failures package check(s) failed"
  exit 1
fi
