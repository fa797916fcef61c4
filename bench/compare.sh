#!/usr/bin/env bash
# Renders one generated programme through tarvel-quolt and through the Debian
# LSP stereo limiter with the same host (tarvel-render) and block size, and
# prints one table: the processing cost of each in nanoseconds per frame and
# their ratio, for the default settings and for everything on (ours: Oversample,
# MeterOvs, Quantize 16 bit with NoiseShape type C; the peer: 4x oversampling,
# "Half x4" and "Full x4"), then the engine benchmark's minimum per frame.
#
#   bench/compare.sh [BUILD_DIR]      (default: build; BLOCK=512 RUNS=9 override)
#
# BASELINE=path/to/an-older/tarvel-quolt.so adds that build as a third plug-in in the
# same turns, with its own column and its ratio to the peer: a before/after in one run.
set -u

BUILD=${1:-build}
BLOCK=${BLOCK:-512}
RUNS=${RUNS:-9}
TOOL="$BUILD/tarvel-render"
OURS="$BUILD/tarvel-quolt.so"
PEER=/usr/lib/vst/lsp-plugins/limiter-stereo.so
BASELINE=${BASELINE:-}

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
if [ -n "$BASELINE" ]; then
  if [ ! -f "$BASELINE" ]; then
    echo "compare: BASELINE $BASELINE does not exist" >&2
    exit 1
  fi
  BASELINE=$(cd "$(dirname "$BASELINE")" && pwd)/$(basename "$BASELINE")
fi
if ! (cd "$WORK" && "$TOOL" --plugin "$PEER" --json >/dev/null 2>"$WORK/demo.err"); then
  echo "compare: the demo render failed: $(cat "$WORK/demo.err")" >&2
  exit 1
fi
INPUT="$WORK/demo-in.wav"

# One render's cost: prints "ns_per_frame", or the tool's error line and fails.
# Arguments: the plug-in, then its --set options.
renderCost() {
  local plugin=$1 out
  shift
  if ! out=$("$TOOL" --plugin "$plugin" "$@" --block "$BLOCK" --json "$INPUT" "$WORK/out.wav" 2>"$WORK/err"); then
    head -n 1 "$WORK/err"
    return 1
  fi
  printf '%s\n' "$out" | sed -n 's/.*"ns_per_frame": *\([0-9.eE+-]*\).*/\1/p'
}

# The smaller of two numbers (the first when the second is empty).
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

ALL_ON=(--set Oversample=on --set MeterOvs=on --set Quantize=on --set Bits=16 --set "NoiseShape=type C")

echo "compare: $(basename "$INPUT"), block $BLOCK, float path; peer and ours rendered in turn,"
echo "  best of $RUNS renders each (other work on the machine only ever adds time)"
if [ -n "$BASELINE" ]; then
  printf '  %-10s %-24s %10s %10s %7s %10s %7s\n' settings peer "peer ns" "ours ns" ratio "base ns" ratio
else
  printf '  %-10s %-24s %10s %10s %7s\n' settings peer "peer ns" "ours ns" ratio
fi
# One row: label, peer label, then the peer's --set options, "--", ours. The plug-ins
# take turns, so a slow spell of the machine falls on each alike.
row() {
  local label=$1 peerLabel=$2 peer="" ours="" base="" ns peerArgs=() oursArgs=()
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do peerArgs+=("$1"); shift; done
  shift
  oursArgs=("$@")
  for _ in $(seq "$RUNS"); do
    if ! ns=$(renderCost "$PEER" "${peerArgs[@]}"); then
      printf '  %-10s %-24s peer cannot be measured: %s\n' "$label" "$peerLabel" "$ns"
      return 1
    fi
    peer=$(smaller "$ns" "$peer")
    if ! ns=$(renderCost "$OURS" "${oursArgs[@]}"); then
      printf '  %-10s %-24s ours cannot be measured: %s\n' "$label" "$peerLabel" "$ns"
      return 1
    fi
    ours=$(smaller "$ns" "$ours")
    if [ -n "$BASELINE" ]; then
      if ! ns=$(renderCost "$BASELINE" "${oursArgs[@]}"); then
        printf '  %-10s %-24s baseline cannot be measured: %s\n' "$label" "$peerLabel" "$ns"
        return 1
      fi
      base=$(smaller "$ns" "$base")
    fi
  done
  awk -v l="$label" -v p="$peerLabel" -v a="$ours" -v b="$peer" -v c="$base" \
    'BEGIN { printf "  %-10s %-24s %10.1f %10.1f %7.2f", l, p, b, a, a / b
             if (c != "") printf " %10.1f %7.2f", c, c / b
             printf "\n" }'
}
status=0
row default "LSP (no oversampling)" -- || status=1
row all-on "LSP Half x4" --set "ovs=Half x4" -- "${ALL_ON[@]}" || status=1
row all-on "LSP Full x4" --set "ovs=Full x4" -- "${ALL_ON[@]}" || status=1

# The engine alone, without host or plug-in shell: Google Benchmark's minimum of five.
ENGINE="$BUILD/bench/tq_bench_engine"
if [ -x "$ENGINE" ]; then
  echo "engine benchmark (paired, float, 512-frame blocks), minimum of 5 repetitions:"
  "$ENGINE" --benchmark_filter='^(pairedDefaultFloat|pairedAllOn)/' --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /_min"$/ { name = $1; gsub(/"/, "", name); sub(/\/.*/, "", name);
                             printf "  %-24s %10.1f ns/frame\n", name, $NF * 1e9 }'
fi
exit $status
