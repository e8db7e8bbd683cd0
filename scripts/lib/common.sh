# Shared by the scripts: where things are, and installing Debian packages
# only when they are missing.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export DEBIAN_FRONTEND=noninteractive

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_updated=0
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$apt_updated" -eq 0 ]; then
    as_root apt-get update -qq
    apt_updated=1
  fi
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

build_packages=(build-essential cmake ninja-build pkg-config librtmidi-dev libgtest-dev libgmock-dev libcli11-dev jackd2 libjack-jackd2-dev)
