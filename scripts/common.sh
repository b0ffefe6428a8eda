# Shared by setup.sh and test.sh: installs the Debian packages the build needs
# (only the missing ones) and configures and builds the project.

QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUORVEL_BUILD="${QUORVEL_BUILD:-$QUORVEL_ROOT/build}"
source "$QUORVEL_ROOT/scripts/fonts.sh"

# Let ccache share results between clones in different folders.
export CCACHE_BASEDIR="$QUORVEL_ROOT"
export CCACHE_NOHASHDIR=true

QUORVEL_PACKAGES=(
    build-essential cmake pkg-config ccache
    juce-modules-source
    libasound2-dev libfreetype-dev libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
    libgl-dev libcurl4-gnutls-dev
    libflac-dev libvorbis-dev libogg-dev zlib1g-dev libpng-dev libjpeg-dev
    librubberband-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-roboto-unhinted
)

# Runs a command as root, through sudo when not root already.
quorvel_as_root() {
    if [ "$(id -u)" -ne 0 ]; then
        sudo "$@"
    else
        "$@"
    fi
}

quorvel_install_packages() {
    local missing=()
    for pkg in "${QUORVEL_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi

    echo "Installing: ${missing[*]}"
    quorvel_as_root apt-get update -qq
    quorvel_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

quorvel_build() {
    quorvel_fetch_fonts
    cmake -S "$QUORVEL_ROOT" -B "$QUORVEL_BUILD" -DCMAKE_BUILD_TYPE=Release "$@"
    cmake --build "$QUORVEL_BUILD" --parallel "$(nproc)"
}

# Where the plug-in keeps its settings and presets (see README).
quorvel_data_dir() {
    if [ -n "${QUORVEL_DATA_DIR:-}" ]; then
        echo "$QUORVEL_DATA_DIR"
    else
        echo "${XDG_DATA_HOME:-$HOME/.local/share}/Pellwick/Quorvel"
    fi
}

quorvel_bundle() {
    echo "$QUORVEL_BUILD/Quorvel_artefacts/Release/VST3/Quorvel.vst3"
}
