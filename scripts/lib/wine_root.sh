# shellcheck shell=bash
# Wine in private roots: Debian's Wine packages unpacked into build-wine/,
# never installed on this machine, so that its architectures and packages stay
# as they were. Source lib/common.sh and this file, then:
#
#   wine_root_prepare   unpacks the 32-bit root, i386 packages, into
#                       build-wine/root (nothing when its stamp is current)
#                       and fills build-wine/bin, whose wine, wineboot and
#                       wineserver run Wine's own in that root, here or in the
#                       VM (scripts/lib/wine_root_command)
#   wine64_root_prepare the same for 64-bit Wine, amd64 packages only (no
#                       32-bit runtime), in build-wine/root64 and
#                       build-wine/bin64; it runs 64-bit programs alone
#
# The packages come from the distribution's main archive alone: its versions
# agree with each other, and an index of another archive that does not match
# its release file (seen for days on the security archive's i386 index) cannot
# stop the unpacking. Unpacking runs no package's scripts, so a kernel that
# runs no 32-bit program unpacks it as well; the one script Wine needs is
# replayed below.

wine_dir=${repo_root:?source lib/common.sh first}/build-wine
# Wine's ALSA driver comes with libwine; dash runs Wine's wineserver script.
wine_packages=(wine wine32 libwine dash)
wine64_packages=(wine wine64 libwine dash)

wine_root_prepare() {
  wine_root_unpack i386 root bin "${wine_packages[@]}"
}

wine64_root_prepare() {
  wine_root_unpack amd64 root64 bin64 "${wine64_packages[@]}"
}

# wine_root_unpack ARCH ROOT BIN PACKAGE...: PACKAGES of ARCH, with what they
# depend on, unpacked into build-wine/ROOT, and build-wine/BIN's commands.
wine_root_unpack() {
  local arch=$1 root=$wine_dir/$2 bin=$wine_dir/$3 codename mirror stamp log command
  shift 3
  ensure_packages mmdebstrap || return 1
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # shellcheck disable=SC2016 # apt's own format fields
  mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    awk -v suite="$codename" '$2 == suite && $3 == "main" { print $1; exit }')
  [ -n "$mirror" ] || { echo "wine: no source of the archive '$codename main' in apt's sources" >&2; return 1; }
  stamp="$codename $mirror $arch $* $(sha256sum <"$repo_root/scripts/lib/wine_root.sh")"
  if [ "$(cat "$root.stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "wine: unpacking $* ($arch, $codename) into build-wine/$(basename "$root")"
    mkdir -p "$wine_dir"
    rm -rf "$root" "$root.stamp"
    log=$root.log
    logged "$log" mmdebstrap --variant=extract --arch="$arch" --include="$(IFS=,; echo "$*")" \
      "$codename" "$root" "$mirror" || { echo "wine: could not unpack the $arch root" >&2; return 1; }
    wine_root_copy_zlib "$root" || { echo "wine: no zlib1.dll for Wine in the $arch root" >&2; return 1; }
    echo "$stamp" >"$root.stamp"
  fi
  # Where the command binds this machine's folders; the VM's root is read-only.
  mkdir -p "$root/proc" "$root/dev" "$root/tmp" "$root$repo_root" "$bin" || return 1
  for command in wine wineboot wineserver; do
    ln -sfn "$repo_root/scripts/lib/wine_root_command" "$bin/$command" || return 1
  done
}

# What libwine's maintainer script does on installation: zlib1.dll from the
# MinGW zlib package, marked as one of Wine's builtin DLLs, in each of Wine's
# DLL folders of ROOT. Without it wineboot fails ("Library zlib1.dll ... not
# found").
wine_root_copy_zlib() {
  local root=$1 mingw_arch wine_arch dll folder copied=0
  for mingw_arch in i686 x86_64; do
    wine_arch=$mingw_arch
    [ "$mingw_arch" = i686 ] && wine_arch=i386
    for folder in "$root"/usr/lib/*-linux-gnu/wine/"$wine_arch-windows"; do
      for dll in "$root/usr/$mingw_arch-w64-mingw32/lib"/zlib*.dll; do
        if [ ! -f "$dll" ] || [ ! -d "$folder" ]; then continue; fi
        {
          head -c 64 "$dll"
          printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
          tail -c +97 "$dll"
        } >"$folder/$(basename "$dll")" || return 1
        copied=1
      done
    done
  done
  [ "$copied" = 1 ]
}
