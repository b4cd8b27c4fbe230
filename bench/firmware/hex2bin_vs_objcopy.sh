#!/usr/bin/env bash
# hex2bin against GNU objcopy, each as a whole process: a 512 KiB image in 16-byte records
# (about 1.4 MB of Intel HEX). Prints the median wall time of each and their ratio, twice:
# with the files in a memory file system (/dev/shm), which measures the programs, and in the
# temporary folder on disk. hex2bin replaces its output durably (written to a temporary name,
# flushed to the disk with fsync, renamed); objcopy does not flush, so on a busy disk the second
# figure mostly measures the disk.
#
#   bench/firmware/hex2bin_vs_objcopy.sh [PATH/TO/vindelor-cli] [RUNS]
#
# Without a path it uses the bench preset's build (cmake --preset bench && cmake --build --preset bench).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cli="${1:-$here/../../build/bench/src/cli/vindelor-cli}"
runs="${2:-31}"
[ -x "$cli" ] || { echo "no vindelor-cli at $cli" >&2; exit 2; }
command -v objcopy >/dev/null || { echo "objcopy (binutils) is needed" >&2; exit 2; }

disk="$(mktemp -d)"
shm=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then shm="$(mktemp -d /dev/shm/vindelor-bench-XXXXXX)"; fi
trap 'rm -rf "$disk" ${shm:+"$shm"}' EXIT
work="$disk"
python3 -c 'import random, sys; r = random.Random(162); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(512 * 1024)))' > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
echo "input: $(wc -c < "$work/image.hex") bytes of hex, $(grep -c '^:10' "$work/image.hex") data records"

# Both must give the same bytes before their times mean anything.
"$cli" hex2bin "$work/image.hex" "$work/ours.bin" > /dev/null
objcopy -I ihex -O binary "$work/image.hex" "$work/theirs.bin"
cmp "$work/ours.bin" "$work/image.bin"
cmp "$work/theirs.bin" "$work/image.bin"

compare() {
python3 - "$cli" "$1" "$runs" <<'PY'
import statistics, subprocess, sys, time
cli, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
commands = {
    "vindelor-cli hex2bin": [cli, "hex2bin", f"{work}/image.hex", f"{work}/ours.bin"],
    "objcopy -I ihex -O binary": ["objcopy", "-I", "ihex", "-O", "binary", f"{work}/image.hex", f"{work}/theirs.bin"],
}
times = {name: [] for name in commands}
for _ in range(runs):  # interleaved, so both see the same machine load
    for name, argv in commands.items():
        start = time.perf_counter()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        times[name].append((time.perf_counter() - start) * 1000)
medians = {name: statistics.median(t) for name, t in times.items()}
for name, m in medians.items():
    print(f"{name:28s} median {m:8.2f} ms  (min {min(times[name]):.2f}, max {max(times[name]):.2f}, {runs} runs)")
ours, theirs = medians["vindelor-cli hex2bin"], medians["objcopy -I ihex -O binary"]
print(f"ratio hex2bin / objcopy: {ours / theirs:.3f} (target below 0.333)")
PY
}

if [ -n "$shm" ]; then
  cp "$work/image.hex" "$shm/image.hex"
  echo "== files in memory ($shm)"
  compare "$shm"
fi
echo "== files on disk ($disk)"
compare "$disk"
