#!/usr/bin/env bash
# The Debian package: its manual pages rendered without a warning, built by
# cpack from a release build, its contents and dependencies checked, passed by
# lintian, installed on this machine with apt-get (which brings in what it
# depends on), its tarnwick-update run in a fresh folder without a kit, its
# tools asked for their help and its manual pages found by man, then removed
# again. The Windows zip is checked by test-windows.sh.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# dpkg-shlibdeps, which finds the package's run-time dependencies, is in
# dpkg-dev; man-db brings man and groff.
ensure_packages "${build_packages[@]}" dpkg-dev lintian mandoc man-db

# --- manual pages: both formatters, every warning ------------------------------
pages=(tarnwick-update tarnwick-kit tarnwick-target)
for page in "${pages[@]}"; do
  source_page=$repo_root/doc/man/$page.1
  warnings=$({ mandoc -T lint "$source_page"; groff -man -ww -z "$source_page"; } 2>&1 || echo "(status $?)")
  check_equal "$page.1: mandoc -T lint and groff -ww find nothing to warn of" "$warnings" ""
done

build_dir=$repo_root/build-packages
quiet_step "build: build-packages" cmake_build "$build_dir" "" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON \
  -DTARNWICK_TESTS=OFF
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)

debs=("$build_dir"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: cpack made no single .deb in $build_dir"
  exit 1
fi
deb=${debs[0]}
package=$(dpkg-deb -f "$deb" Package)
echo "package: $(basename "$deb")"
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; }

# --- contents: the programs, their pages and documentation, nothing else -----
dpkg-deb -c "$deb"
programs=(tarnwick-update tarnwick-target tarnwick-kit)
doc=./usr/share/doc/tarnwick
expected=$({
  printf './usr/bin/%s\n' "${programs[@]}"
  printf './usr/share/man/man1/%s.1.gz\n' "${pages[@]}"
  printf '%s\n' "$doc/README.md" "$doc/changelog.gz" "$doc/copyright"
} | sort | paste -sd' ')
holds=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | paste -sd' ')
check_equal "the package holds $expected" "$holds" "$expected"
# packaged SOURCE: a file of the package, uncompressed when it is a .gz.
packaged() {
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "$1" | if [[ $1 == *.gz ]]; then gzip -dc; else cat; fi
}
declare -A sources=(["$doc/README.md"]=README.md ["$doc/changelog.gz"]=packaging/debian/changelog)
for page in "${pages[@]}"; do sources["./usr/share/man/man1/$page.1.gz"]=doc/man/$page.1; done
for file in "${!sources[@]}"; do
  check "the package's ${file#./} is the repository's ${sources[$file]}" \
    cmp -s <(packaged "$file") "$repo_root/${sources[$file]}"
done

# --- lintian: no error, no warning ----------------------------------------------
# Its tags go to standard output; standard error may say it runs as root.
if lintian "$deb" >"$build_dir/lintian.out" 2>"$build_dir/lintian.err" && [ ! -s "$build_dir/lintian.out" ]; then
  pass "lintian finds nothing to report"
else
  fail "lintian reports:"
  sed 's/^/    /' "$build_dir/lintian.out" "$build_dir/lintian.err"
fi

# --- dependencies: found by dpkg-shlibdeps --------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libc6 libstdc++6 librtmidi6; do
  check "depends on $needed" grep -qx "$needed" <(tr ',|' '\n' <<<"$depends" | awk '{ print $1 }')
done

# --- installed: run, then removed ---------------------------------------------
if installed; then
  echo "FAIL: $package is installed already; remove it first (apt-get remove $package)"
  exit 1
fi
work=$(mktemp -d /tmp/tarnwick-packages.XXXXXX)
cleanup() {
  if installed; then apt_get remove -y -qq "$package" </dev/null >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# apt reads the file as its own unprivileged user: give it a copy it can read.
chmod 755 "$work"
install -m 644 "$deb" "$work/"
if apt_get install -y -qq "$work/$(basename "$deb")" </dev/null >"$work/install.log" 2>&1; then
  pass "apt-get installs the package with its dependencies"
else
  fail "apt-get could not install the package:"
  sed 's/^/    /' "$work/install.log"
fi
check_equal "tarnwick-update is /usr/bin/tarnwick-update" "$(command -v tarnwick-update || true)" \
  /usr/bin/tarnwick-update

# No kit in the folder: the banner, the missing-kit message and the pause,
# which returns at the end of standard input.
mkdir "$work/run"
status=0
(cd "$work/run" && timeout -k 5 30 /usr/bin/tarnwick-update </dev/null >"$work/update.out" 2>"$work/update.err") ||
  status=$?
printf '%s\n%s\n\n%s\n' "Quorlane Update V0.3 -> Tarnwick Box System" "Error: File '*.kit' is not found." \
  "Press any key to continue . . . " >"$work/update.expected"
if [ "$status" -eq 0 ] && cmp -s "$work/update.expected" "$work/update.out" && [ ! -s "$work/update.err" ]; then
  pass "the installed tarnwick-update prints the no-kit output, exit status 0"
else
  fail "the installed tarnwick-update: exit status $status, output:"
  show_difference "$work/update.expected" "$work/update.out"
  sed 's/^/  stderr: /' "$work/update.err"
fi

# The tools link against what the package declared; --help shows they start.
# Their version and the package's come from the one project version.
package_version=$(dpkg-deb -f "$deb" Version)
starts() { timeout -k 5 30 "/usr/bin/$1" --help </dev/null >/dev/null 2>&1; }
for tool in "${programs[@]:1}"; do
  check "the installed $tool --help exits 0" starts "$tool"
  version=$(timeout -k 5 30 "/usr/bin/$tool" --version </dev/null 2>&1) || version="(exit status $?) $version"
  check_equal "the installed $tool --version says the package's version" "$version" "$tool $package_version"
done

# man finds each page where the package put it.
for page in "${pages[@]}"; do
  check_equal "man -w finds $page(1)" "$(man -w 1 "$page" 2>&1 || true)" "/usr/share/man/man1/$page.1.gz"
done

removed() { apt_get remove -y -qq "$package" </dev/null >/dev/null && [ ! -e /usr/bin/tarnwick-update ]; }
check "apt-get removes the package and its programs" removed

checks_summary packages
