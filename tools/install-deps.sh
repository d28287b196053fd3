#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

# libphonenumber (with ICU) is the peer of the comparison benchmark, strace
# counts a lookup's system calls; python3-phonenumbers generates the data.
# cairo, pango and the Noto fonts draw the pictures of the call screen (the CJK
# fonts so that areas such as "北京市" show as text, not as empty boxes).
# help2man writes the manual page; lintian checks the Debian package; zsh runs
# the test of its completion. The cross compilers and qemu-user build the
# tests and the differential check for armv7 and arm64 and run them.
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libplist-dev
          clang libclang-rt-14-dev libcairo2-dev libpango1.0-dev fonts-noto-core fonts-noto-cjk
          python3-phonenumbers libcli11-dev dpkg-dev libphonenumber-dev libicu-dev strace
          help2man lintian zsh gcovr nlohmann-json3-dev g++-arm-linux-gnueabihf
          g++-aarch64-linux-gnu qemu-user-static)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
