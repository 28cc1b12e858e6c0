#!/usr/bin/env bash
# The demonstration of scripts/run.sh. It grows with the programs.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
"$build/bin/tessaly-cli" help
