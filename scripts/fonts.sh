# Sourced by common.sh: puts the editor's fonts into $QUORVEL_BUILD/fonts under
# the file names the renderer looks up. The fonts are not in the repository:
# DM Sans comes from npm, Roboto from Debian. A font that cannot be fetched is
# left out with a warning; the editor then draws with JUCE's default font.

quorvel_fetch_fonts() {
    local dir="$QUORVEL_BUILD/fonts"
    mkdir -p "$dir"

    if [ ! -f "$dir/DMSans-Bold.ttf" ] || [ ! -f "$dir/DMSans-VariableFont_opsz,wght.ttf" ] \
        || [ ! -f "$dir/DMSans-Italic-VariableFont_opsz,wght.ttf" ]; then
        if ! command -v npm >/dev/null 2>&1; then
            # Best effort: a machine with Node from elsewhere already has npm.
            quorvel_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm \
                >/dev/null 2>&1 || true
        fi
        local work
        work="$(mktemp -d)"
        if (cd "$work" && timeout 300 npm pack --silent @expo-google-fonts/dm-sans@0.4.2 >/dev/null 2>&1) \
            && tar -xzf "$work"/expo-google-fonts-dm-sans-0.4.2.tgz -C "$work"; then
            cp "$work/package/400Regular/DMSans_400Regular.ttf" "$dir/DMSans-VariableFont_opsz,wght.ttf"
            cp "$work/package/700Bold/DMSans_700Bold.ttf" "$dir/DMSans-Bold.ttf"
            cp "$work/package/400Regular_Italic/DMSans_400Regular_Italic.ttf" "$dir/DMSans-Italic-VariableFont_opsz,wght.ttf"
        else
            echo "warning: could not fetch DM Sans from npm; the editor falls back to the default font" >&2
        fi
        rm -rf "$work"
    fi

    local roboto=/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Regular.ttf
    if [ -f "$roboto" ]; then
        cp -u "$roboto" "$dir/Roboto-VariableFont_wdth,wght.ttf"
    else
        echo "warning: $roboto is missing; Roboto is left out" >&2
    fi
}
