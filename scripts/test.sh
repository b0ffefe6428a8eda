#!/usr/bin/env bash
# Builds everything, tests included, and runs the whole test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

quorvel_install_packages
quorvel_build -DQUORVEL_BUILD_TESTS=ON
ctest --test-dir "$QUORVEL_BUILD" --output-on-failure --parallel "$(nproc)"
