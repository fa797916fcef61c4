#!/usr/bin/env bash
# Renders one generated programme through tarvel-quolt and through the Debian
# LSP stereo limiter with the same host (tarvel-render) and block size, and
# prints the processing cost of each in nanoseconds per frame and their ratio.
#
#   bench/compare.sh [BUILD_DIR]      (default: build; BLOCK=512 RUNS=7 override)
set -u

BUILD=${1:-build}
BLOCK=${BLOCK:-512}
RUNS=${RUNS:-7}
TOOL="$BUILD/tarvel-render"
OURS="$BUILD/tarvel-quolt.so"
PEER=/usr/lib/vst/lsp-plugins/limiter-stereo.so

if [ ! -x "$TOOL" ]; then
  echo "compare: $TOOL is not built (run make build first)" >&2
  exit 1
fi
if [ ! -f "$PEER" ]; then
  echo "compare: installing lsp-plugins-vst for the peer limiter"
  if [ "$(id -u)" = 0 ]; then
    (apt-get update -qq || true) && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lsp-plugins-vst >/dev/null
  else
    sudo apt-get install -y -qq lsp-plugins-vst >/dev/null
  fi
fi
if [ ! -f "$PEER" ]; then
  echo "compare: $PEER is missing and could not be installed" >&2
  exit 1
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The programme: the tool's own demo (20 s, hot, with transients), written by a
# first render through the peer, which also warms the caches.
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
OURS=$(cd "$(dirname "$OURS")" && pwd)/$(basename "$OURS")
if ! (cd "$WORK" && "$TOOL" --plugin "$PEER" --json >/dev/null 2>"$WORK/demo.err"); then
  echo "compare: the demo render failed: $(cat "$WORK/demo.err")" >&2
  exit 1
fi
INPUT="$WORK/demo-in.wav"

# Best of RUNS renders: the least disturbed by other work on the machine.
# Prints "ns_per_frame frames", or the tool's error line and fails.
measure() {
  local plugin=$1 best="" frames="" out ns
  for _ in $(seq "$RUNS"); do
    if ! out=$("$TOOL" --plugin "$plugin" --block "$BLOCK" --json "$INPUT" "$WORK/out.wav" 2>"$WORK/err"); then
      head -n 1 "$WORK/err"
      return 1
    fi
    ns=$(printf '%s\n' "$out" | sed -n 's/.*"ns_per_frame": *\([0-9.eE+-]*\).*/\1/p')
    frames=$(printf '%s\n' "$out" | sed -n 's/.*"frames": *\([0-9]*\).*/\1/p')
    if [ -z "$best" ] || awk -v a="$ns" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ns; fi
  done
  echo "$best $frames"
}

echo "compare: $(basename "$INPUT"), block $BLOCK, best of $RUNS renders, float path"
if peer=$(measure "$PEER"); then
  peer_ns=${peer%% *}
  printf '  %-32s %10.1f ns/frame\n' "LSP Limiter Stereo (peer)" "$peer_ns"
else
  echo "  LSP Limiter Stereo (peer): cannot be measured: $peer"
  exit 1
fi
if ours=$(measure "$OURS"); then
  ours_ns=${ours%% *}
  printf '  %-32s %10.1f ns/frame\n' "Tarvel Quolt" "$ours_ns"
  awk -v a="$ours_ns" -v b="$peer_ns" 'BEGIN { printf "  ratio tarvel-quolt / peer        %10.2f\n", a / b }'
else
  echo "  Tarvel Quolt: cannot be loaded yet, no figure ($ours)"
  echo "  ratio: none (only the peer was measured)"
fi
