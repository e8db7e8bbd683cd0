# shellcheck shell=bash
# 32-bit Wine in a private root: Debian's i386 Wine packages unpacked into
# build-wine/root, never installed on this machine, so that its architectures
# and packages stay as they were. Source lib/common.sh and this file, then:
#
#   wine_root_prepare   unpacks the root (nothing when its stamp is current)
#                       and fills build-wine/bin, whose wine, wineboot and
#                       wineserver run Wine's own in that root, here or in the
#                       VM (scripts/lib/wine_root_command)
#
# The packages come from the distribution's main archive alone: its versions
# agree with each other, and an index of another archive that does not match
# its release file (seen for days on the security archive's i386 index) cannot
# stop the unpacking. Unpacking runs no package's scripts, so a kernel that
# runs no 32-bit program unpacks it as well; the one script Wine needs is
# replayed below.

wine_dir=${repo_root:?source lib/common.sh first}/build-wine
wine_root=$wine_dir/root
# Wine's ALSA driver comes with libwine; dash runs Wine's wineserver script.
wine_packages=(wine wine32 libwine dash)

wine_root_prepare() {
  local codename mirror stamp log command
  ensure_packages mmdebstrap || return 1
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # shellcheck disable=SC2016 # apt's own format fields
  mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    awk -v suite="$codename" '$2 == suite && $3 == "main" { print $1; exit }')
  [ -n "$mirror" ] || { echo "wine: no source of the archive '$codename main' in apt's sources" >&2; return 1; }
  stamp="$codename $mirror ${wine_packages[*]} $(sha256sum <"$repo_root/scripts/lib/wine_root.sh")"
  if [ "$(cat "$wine_dir/root.stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "wine: unpacking ${wine_packages[*]} (i386, $codename) into build-wine/root"
    mkdir -p "$wine_dir"
    rm -rf "$wine_root" "$wine_dir/root.stamp"
    log=$wine_dir/root.log
    logged "$log" mmdebstrap --variant=extract --arch=i386 --include="$(IFS=,; echo "${wine_packages[*]}")" \
      "$codename" "$wine_root" "$mirror" || { echo "wine: could not unpack the 32-bit root" >&2; return 1; }
    wine_root_copy_zlib || { echo "wine: no zlib1.dll for Wine in the 32-bit root" >&2; return 1; }
    echo "$stamp" >"$wine_dir/root.stamp"
  fi
  # Where the command binds this machine's folders; the VM's root is read-only.
  mkdir -p "$wine_root/proc" "$wine_root/dev" "$wine_root/tmp" "$wine_root$repo_root" "$wine_dir/bin" || return 1
  for command in wine wineboot wineserver; do
    ln -sfn "$repo_root/scripts/lib/wine_root_command" "$wine_dir/bin/$command" || return 1
  done
}

# What libwine's maintainer script does on installation: zlib1.dll from the
# MinGW zlib package, marked as one of Wine's builtin DLLs, in each of Wine's
# DLL folders. Without it wineboot fails ("Library zlib1.dll ... not found").
wine_root_copy_zlib() {
  local mingw_arch wine_arch dll folder copied=0
  for mingw_arch in i686 x86_64; do
    wine_arch=$mingw_arch
    [ "$mingw_arch" = i686 ] && wine_arch=i386
    folder=$wine_root/usr/lib/i386-linux-gnu/wine/$wine_arch-windows
    for dll in "$wine_root/usr/$mingw_arch-w64-mingw32/lib"/zlib*.dll; do
      if [ ! -f "$dll" ] || [ ! -d "$folder" ]; then continue; fi
      {
        head -c 64 "$dll"
        printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
        tail -c +97 "$dll"
      } >"$folder/$(basename "$dll")" || return 1
      copied=1
    done
  done
  [ "$copied" = 1 ]
}
