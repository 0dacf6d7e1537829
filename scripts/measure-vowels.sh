#!/usr/bin/env bash
# Which vowel does "max" hear? espeak-ng speaks the sustained vowels a, e, i, o, u into WAV
# files; each is turned into the raw 44100 Hz mono 16-bit samples that SDL's disk capture
# driver reads (normalised to a peak of 95 %, as a microphone's gain would be set), and the
# player runs a small production with "max" in real time on that input. The effect logs, when
# it ends, in how many frames each vowel was the closest; this prints that line per vowel.
#
#   scripts/measure-vowels.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/prod/nk09"
cp tests/data/dali.xm "$work/prod/"
cp "$build/assets/nk09/max.gled" "$work/prod/nk09/"
cat >"$work/prod/script" <<'EOF'
set tune to "dali.xm"
effect m is max
demo runs for 2.5 seconds
first set m.scene to "nk09\max.gled"
at second 0 start m
enddemo
EOF

for vowel in a e i o u; do
  # German vowels are pure; the phoneme brackets hold one long vowel for about 1.7 s.
  espeak-ng -v de -s 80 -w "$work/$vowel.wav" "[[$vowel:$vowel:$vowel:$vowel:]]"
  python3 - "$work/$vowel.wav" "$work/$vowel.raw" <<'EOF'
import array, sys, wave
with wave.open(sys.argv[1]) as w:
    rate, samples = w.getframerate(), array.array("h", w.readframes(w.getnframes()))
# Linear interpolation to 44100 Hz, then the gain that puts the peak at 95 % of full scale.
out = array.array("h")
n = len(samples)
for i in range(int(n * 44100 / rate)):
    x = i * rate / 44100
    j = int(x)
    a, b = samples[min(j, n - 1)], samples[min(j + 1, n - 1)]
    out.append(int(a + (b - a) * (x - j)))
peak = max(1, max(abs(s) for s in out))
gain = 0.95 * 32767 / peak
out = array.array("h", (int(s * gain) for s in out))
rms = (sum(s * s for s in out) / len(out)) ** 0.5 / 32768
with open(sys.argv[2], "wb") as f:
    out.tofile(f)
print(f"{sys.argv[1].rsplit('/', 1)[1]}: {len(out) / 44100:.2f} s, RMS {rms:.3f}", file=sys.stderr)
EOF
  (cd "$work/prod" &&
     SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$work/$vowel.raw" \
       SDL_DISKAUDIOFILE=/dev/null "$build/lux32" --no-dialog --windowed 160x120 \
       >/dev/null 2>&1 || true)
  line=$(grep 'GLED: max heard' "$work/prod/luxdebug.txt" || echo "nothing heard")
  echo "spoken $vowel: $line"
done
