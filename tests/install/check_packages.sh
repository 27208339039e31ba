#!/usr/bin/env bash
# Checks the packages: each .deb (libvudaduv1, libvudaduv-dev, vudaduv) and each Windows zip holds
# what it must. The .deb files, unpacked together into a scratch root, must give a tool that runs
# against the packaged libraries (not those of the build), and a CMake package and pkg-config
# files that another build compiles and links against (tests/install/consumer).
# Usage: check_packages.sh PACKAGE.deb... PACKAGE.zip...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
library_package=libvudaduv1

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Fails unless every path named after LISTING appears in it (as a path ending a listing line).
expect_listed() {
  local what=$1 listing=$2
  shift 2
  for path in "$@"; do
    if ! grep -qE "(^| |\./)${path//./\\.}( -> .*)?$" <<<"$listing"; then
      fail "$what lacks $path"
    fi
  done
}

# The Debian packages, each named by its Package field and its upstream version (the libraries'
# file names carry it whole), and the paths each must hold.
expect_in_deb() {
  local package=$1 lib=$2 upstream=$3
  local doc=usr/share/doc/$package
  case "$package" in
    libvudaduv1)
      echo $lib/libvudaduv.so.$upstream $lib/libvudaduv.so.1 \
        $lib/libwqdatasend.so.$upstream $lib/libwqdatasend.so.1 \
        $lib/libwqcommsend.so.$upstream $lib/libwqcommsend.so.1 \
        $lib/libvudaduv_fleet.so.$upstream $lib/libvudaduv_fleet.so.1 ;;
    libvudaduv-dev)
      echo usr/include/vudaduv.h usr/include/wqdatasend.h usr/include/wqcommsend.h \
        usr/include/vudaduv_fleet_c.h \
        $lib/libvudaduv.so $lib/libwqdatasend.so $lib/libwqcommsend.so $lib/libvudaduv_fleet.so \
        $lib/cmake/vudaduv/vudaduvConfig.cmake $lib/cmake/vudaduv/vudaduvConfigVersion.cmake \
        $lib/cmake/vudaduv/vudaduvTargets.cmake \
        $lib/pkgconfig/vudaduv.pc $lib/pkgconfig/wqdatasend.pc $lib/pkgconfig/wqcommsend.pc \
        $lib/pkgconfig/vudaduv-fleet.pc ;;
    vudaduv)
      echo usr/bin/vudaduv usr/share/man/man1/vudaduv.1.gz $doc/README.md $doc/CHANGELOG.md \
        $doc/docs/sync.md $doc/docs/fleet-c-library.md \
        $doc/examples/send_items.c $doc/examples/fleet_sync.c ;;
    *) return 1 ;;
  esac
  echo $doc/copyright $doc/changelog.Debian.gz
}

check_deb() {
  local deb=$1 lib=$2 package paths upstream
  package=$(dpkg-deb -f "$deb" Package)
  upstream=$(dpkg-deb -f "$deb" Version)
  upstream=${upstream%-*}
  if ! paths=$(expect_in_deb "$package" "$lib" "$upstream"); then
    fail "$deb holds an unknown package, $package"
    return
  fi
  # shellcheck disable=SC2086  # one path a word
  expect_listed "$deb" "$(dpkg-deb -c "$deb")" $paths
  local version
  version=$(dpkg-deb -f "$deb" Version)
  if [ "$package" != "$library_package" ] &&
    ! grep -qF "$library_package (= $version)" <<<"$(dpkg-deb -f "$deb" Depends)"; then
    fail "$package does not depend on $library_package $version"
  fi
  echo "$deb: checked ($package $version)"
}

# The packages installed together, as dpkg would: no file in two of them, and everything works
# from the scratch root they are unpacked into.
check_debs_together() {
  local lib=$1 root version said
  shift
  local shared
  shared=$(for deb in "$@"; do
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}'
  done | sort | uniq -d)
  [ -z "$shared" ] || fail "files in more than one package: $shared"

  root=$(mktemp -d)
  for deb in "$@"; do
    dpkg -x "$deb" "$root"
  done
  version=$(dpkg-deb -f "$1" Version)
  version=${version%-*}  # the upstream version, without the Debian revision
  # (Outputs are taken whole before grep -q reads them: with pipefail, a writer that grep -q
  # leaves behind would fail the check.)
  local dynamic
  dynamic=$(readelf -d "$root/$lib/libvudaduv.so.$version")
  if ! grep -q 'SONAME.*\[libvudaduv\.so\.1\]' <<<"$dynamic"; then
    fail "libvudaduv.so.$version has no SONAME libvudaduv.so.1"
  fi
  dynamic=$(readelf -d "$root/$lib/libvudaduv_fleet.so.$version")
  if ! grep -q 'SONAME.*\[libvudaduv_fleet\.so\.1\]' <<<"$dynamic"; then
    fail "libvudaduv_fleet.so.$version has no SONAME libvudaduv_fleet.so.1"
  fi
  said=$("$root/usr/bin/vudaduv" --version)
  [ "$said" = "vudaduv $version" ] || fail "the tool says '$said', the packages are $version"
  # The tool finds the package's libraries, not a copy elsewhere, and they work.
  if ! grep -q "libvudaduv.so.1 => $root/" <<<"$(ldd "$root/usr/bin/vudaduv")"; then
    fail "the packaged tool does not load the packaged libvudaduv.so.1"
  fi
  "$root/usr/bin/vudaduv" demo >/dev/null || fail "the demo of the packaged tool failed"
  # Another build against the packages: find_package and pkg-config.
  cmake -DPREFIX="$root/usr" -DWORK_DIR="$root.consumers" -DCONSUMER_DIR="$here/consumer" \
    -DLIBDIR="${lib#usr/}" -DVERSION="$version" -DGENERATOR=Ninja -DC_COMPILER=cc \
    -DPKG_CONFIG=pkg-config -P "$here/consumers.cmake" || fail "a build against the packages failed"
  rm -rf "$root" "$root.consumers"
  echo "the .deb files together: checked (version $version)"
}

check_zip() {
  local zip=$1 top
  top=$(basename "$zip" .zip)
  local listing
  listing=$(unzip -l "$zip")
  expect_listed "$zip" "$listing" \
    "$top/bin/VUDADUV.dll" "$top/bin/WQDATASEND.dll" "$top/bin/WQCOMMSEND.dll" \
    "$top/bin/VUDADUV_FLEET.dll" "$top/lib/libVUDADUV_FLEET.dll.a" "$top/include/vudaduv_fleet_c.h" \
    "$top/bin/vudaduv.exe" \
    "$top/lib/libVUDADUV.dll.a" "$top/lib/libWQDATASEND.dll.a" "$top/lib/libWQCOMMSEND.dll.a" \
    "$top/include/vudaduv.h" "$top/include/wqdatasend.h" "$top/include/wqcommsend.h" \
    "$top/README.md" "$top/LICENSE" "$top/CHANGELOG.md" "$top/docs/fleet-c-library.md" \
    "$top/examples/vudaduv-sync.cmd"
  echo "$zip: checked"
}

debs=()
for package in "$@"; do
  case "$package" in
    *.deb) debs+=("$package") ;;
    *.zip) check_zip "$package" ;;
    *) fail "$package is no package" ;;
  esac
done
if [ ${#debs[@]} -gt 0 ]; then
  lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  for deb in "${debs[@]}"; do
    check_deb "$deb" "$lib"
  done
  complete=1
  for package in libvudaduv1 libvudaduv-dev vudaduv; do
    for deb in "${debs[@]}"; do
      [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] && continue 2
    done
    fail "no $package among the .deb files"
    complete=0
  done
  [ "$complete" = 0 ] || check_debs_together "$lib" "${debs[@]}"
fi
if [ "$failures" -gt 0 ]; then
  echo "$failures package check(s) failed"
  exit 1
fi
