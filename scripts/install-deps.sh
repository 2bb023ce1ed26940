#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing tarnvelox need.
# Idempotent: when everything is present it only looks, which takes about a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang-format   # the source format is checked by a test
  zlib1g-dev libdeflate-dev
  libfreetype-dev libfontconfig-dev fonts-liberation fonts-dejavu-core
  fonts-wqy-microhei   # a face for Chinese, Japanese and Korean text (tests shape it)
  libpng-dev libjpeg-dev libtiff-dev
  libzip-dev libpugixml-dev   # DWF packages: the ZIP archive and its XML
  libgtest-dev libgmock-dev libbenchmark-dev
  qpdf poppler-utils python3 locales
  parallel       # the cluster recipe (scripts/cluster) is tested with GNU parallel
  qt6-base-dev   # the desktop wizard; its tests run on Qt's offscreen platform
  xvfb xauth     # screenshots of the wizard without a desktop (tests/ui/Screenshots.cpp)
)

# A locale with a decimal comma: tests prove that numbers in PDF files ignore the locale.
test_locale=de_DE.UTF-8

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

have_locale() { locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; }

if [ ${#missing[@]} -eq 0 ] && have_locale; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! have_locale; then
  echo "install-deps: generating the locale $test_locale"
  $sudo localedef -i de_DE -f UTF-8 "$test_locale"
fi
