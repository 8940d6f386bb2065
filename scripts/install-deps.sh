#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs; only missing ones, so a
# machine that has them all is done at once.
set -euo pipefail

PACKAGES="build-essential cmake g++ libgtest-dev libgmock-dev libbenchmark-dev libedit-dev libmuparser-dev pkg-config"
# Qt 6 for the edit controls: Widgets, Test and UiTools with what their CMake
# files look for (OpenGL, Vulkan headers); Designer with its libraries for
# the plug-in and the in-process Designer test; and the tools to run and
# photograph the example and Designer under a virtual X server.
PACKAGES="$PACKAGES qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-tools-dev qt6-tools-dev-tools
  libqt6uitools6 libqt6designer6 libqt6designercomponents6 designer-qt6 qt6-qpa-plugins libgl-dev libglx-dev libopengl-dev libvulkan-dev
  fonts-dejavu-core xvfb xauth imagemagick xdotool"
# Debian packages: CPack's dependency scan (dpkg-shlibdeps, file), lintian,
# and bash-completion, which the completion's test loads.
PACKAGES="$PACKAGES dpkg-dev file lintian bash-completion"
# clang and its runtime libraries build the libFuzzer targets.
PACKAGES="$PACKAGES clang libclang-rt-14-dev"

missing=()
for package in $PACKAGES; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
