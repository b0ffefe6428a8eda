#!/usr/bin/env bash
# Installs what the build needs, builds Quorvel, installs the VST3 bundle into
# ~/.vst3 and starts the standalone app (when a display is available).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

quorvel_install_packages
quorvel_build -DQUORVEL_BUILD_TESTS=OFF

bundle="$(quorvel_bundle)"
mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/Quorvel.vst3"
cp -r "$bundle" "$HOME/.vst3/"
echo "Installed the VST3 plug-in to $HOME/.vst3/Quorvel.vst3"

# Factory presets; the user's own presets ("User Presets") are left alone.
presets="$(quorvel_data_dir)/Presets"
mkdir -p "$presets"
cp -r "$QUORVEL_ROOT/resources/presets/." "$presets/"
echo "Installed the factory presets to $presets"

# The main job without a host: the demo performance through a factory preset.
demo_out="$QUORVEL_BUILD/Quorvel_demo.mid"
"$QUORVEL_BUILD/tools/quorvel-render" --preset "Chords/Pop Progressions" --out "$demo_out"
echo "The rendered demo is at $demo_out"

app="$QUORVEL_BUILD/Quorvel_artefacts/Release/Standalone/Quorvel"
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
    echo "Starting the standalone app: $app"
    exec "$app"
else
    echo "No display: the standalone app is at $app; start it from a desktop session."
fi
