#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (skipping those already there) and
# generates the comma-decimal locale the locale tests run under.
set -euo pipefail

packages=(cmake g++ make clang libclang-rt-14-dev libsundials-dev liblapack-dev libblas-dev
          uthash-dev libgtest-dev libgmock-dev libbenchmark-dev libtinyxml2-dev libxml2-utils
          locales zip unzip binutils python3-scipy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
