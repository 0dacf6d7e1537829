#!/usr/bin/env bash
# Renders the pictures of docs/images/ from the guide's own examples: every ```script block
# of docs/AUTHORING.md whose first line reads "; picture: NAME at SECONDS" is played offline
# beside the default production's built files, and its frame at that second becomes
# docs/images/NAME.png (240 x 180). The README's screenshot comes from the default production.
# Usage: scripts/make-doc-images.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
cmake --build "$build" -j2 --target lux32 demo_archive
mkdir -p docs/images
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Plays the production in folder $1 from second $2 and keeps that frame as $3, at the size $4
# (240x180 unless given).
picture() {
  rm -rf "$work/render"
  (cd "$work" && "$build/lux32" -C "$1" --windowed "${4:-240x180}" --render "$work/render" --fps 4 \
    --from "$2" --to "$(awk "BEGIN { print $2 + 0.25 }")" >/dev/null)
  cp "$work/render/frame000000.png" "$3"
}

# Splits the guide into one file per picture example: NAME SECONDS on the first line.
awk -v out="$work" '
  /^```script$/ { inside = 1; first = 1; next }
  inside && /^```/ { inside = 0; if (file) close(file); file = ""; next }
  inside && first { first = 0
    if ($1 == ";" && $2 == "picture:" && $4 == "at") {
      file = out "/" $3 ".example"; print $3, $5 > file }
  }
  inside && file { print > file }
' docs/AUTHORING.md

for example in "$work"/*.example; do
  read -r name seconds <"$example"
  production="$work/$name"
  mkdir -p "$production"
  for f in "$build"/demo/stage/*; do
    [ "$(basename "$f")" = script ] || ln -sf "$f" "$production/"
  done
  tail -n +2 "$example" >"$production/script"
  picture "$production" "$seconds" "docs/images/$name.png"
  echo "docs/images/$name.png"
done
picture "$build/demo" 40.5 docs/images/default-production.png 480x360
echo docs/images/default-production.png
