# Shared set-up of ./run and ./test: installs the Debian packages the build
# needs when they are missing, then configures and builds into build/.
# Sourced, not run.

torv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

torv_packages=(cmake ninja-build g++ libgtest-dev libfltk1.3-dev)
# README's Install section: cpack's Debian package needs file and
# dpkg-shlibdeps (without it the package would have no dependencies).
torv_packages+=(file dpkg-dev)
if [ "${TORV_TEST_PACKAGES:-0}" = 1 ]; then
  torv_packages+=(clang libclang-rt-14-dev xvfb xauth xdotool imagemagick x11-utils)
  # Installation and package test: icons, validators, manual page, lintian.
  torv_packages+=(librsvg2-bin desktop-file-utils appstream groff man-db lintian dpkg-dev file)
  # The Pentium II build and the emulated Pentium II it runs on.
  torv_packages+=(g++-multilib qemu-system-x86 cpio file binutils)
  # Torvacin Live: its kernel from Debian's source, the boot loader, the ISO
  # image, and the FAT floppies and sticks its test reads.
  torv_packages+=(linux-source-6.1 bc bison flex xz-utils isolinux syslinux-common xorriso dosfstools mtools)
  # The live floppy: SYSLINUX installed into its image through mtools.
  torv_packages+=(syslinux)
  # The runtime of the i486 build (scripts/i486-runtime): libstdc++ and libgcc
  # from GCC's source, compiled with the compiler's own target headers; musl
  # and BusyBox's source are fetched by apt-get (see the deb-src entry below).
  torv_packages+=(gcc-12-source gcc-12-plugin-dev dpkg-dev)
  # The Windows program (i686, win32 thread model) and its driver, and the
  # x86-64 build of the same sources with the test suites that 64-bit Wine
  # runs; GoogleTest's sources are built with the cross compiler.
  torv_packages+=(g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 mingw-w64-i686-dev)
  torv_packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
  torv_packages+=(wine64 googletest)
  # tests/windows/wine32-guest (run by hand): the i386 Debian with wine32
  # that its QEMU guest boots.
  torv_packages+=(debootstrap)
fi

torv_install_packages() {
  local missing=()
  local p
  # The emulated Pentium II boots Debian's 32-bit kernel, fetched with
  # apt-get download: the package lists must know the i386 architecture.
  if [ "${TORV_TEST_PACKAGES:-0}" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "The i386 architecture is not known to dpkg; as root: dpkg --add-architecture i386 && apt-get update" >&2
      return 1
    fi
    echo "Adding the i386 architecture for the emulated Pentium II's kernel" >&2
    dpkg --add-architecture i386
    apt-get update -qq >&2
  fi
  # Torvacin Live builds BusyBox from Debian's source (apt-get source): a
  # deb-src entry for the same archive as the packages.
  if [ "${TORV_TEST_PACKAGES:-0}" = 1 ] && ! torv_have_deb_src; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "apt-get source needs a deb-src entry for Debian's archive; as root, add one and apt-get update" >&2
      return 1
    fi
    echo "Adding a deb-src entry for Debian's archive (apt-get source busybox)" >&2
    torv_add_deb_src && apt-get update -qq >&2
  fi
  for p in "${torv_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then
      echo "These Debian packages are missing; run as root or install them: ${missing[*]}" >&2
      return 1
    fi
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# Whether apt knows a source package: the lists have busybox's source.
torv_have_deb_src() {
  apt-get source --print-uris -qq busybox >/dev/null 2>&1
}

# The deb-src twin of each deb entry of the system's sources (deb822 or
# one-line format), in a file of its own.
torv_add_deb_src() {
  local f
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [ "$f" = /etc/apt/sources.list.d/torvacin-src.sources ] && continue
      sed -n '/^#/d; s/^Types: deb$/Types: deb-src/; p' "$f"
      echo
    done >/etc/apt/sources.list.d/torvacin-src.sources
  fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/torvacin-src.list
  fi
}

# torv_build DIR [cmake options...]: configure and build quietly; the log is
# shown only when something fails.
torv_build() {
  local dir=$1
  shift
  mkdir -p "$torv_root/$dir"
  local log="$torv_root/$dir/build-output.log"
  if ! { cmake -S "$torv_root" -B "$torv_root/$dir" -G Ninja "$@" &&
    cmake --build "$torv_root/$dir" -j2; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "Build in $dir failed." >&2
    return 1
  fi
}
