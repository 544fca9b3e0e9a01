#!/usr/bin/env bash
# Installs what a fresh Debian 12 lacks for building and testing Brannoch,
# skipping what is already present. Where the kernel runs 32-bit code, also
# wine32 (i386 multiarch), so that the i686 product itself runs under Wine;
# elsewhere that step is skipped and the i686 scenarios report themselves
# skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make g++ pkg-config libgtest-dev googletest python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth locales-all fonts-wqy-microhei imagemagick
  nsis git openssl osslsigncode python3-pefile
)
if scripts/runs32.sh; then
  packages+=(wine32:i386)
else
  echo "setup: this kernel runs no 32-bit code; wine32 is not installed"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi
echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
case " ${missing[*]} " in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386 ;;
esac
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
