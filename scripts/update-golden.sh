#!/usr/bin/env bash
# Regenerates the golden pictures under tests/golden/ from the current code, headless.
# Look at every changed picture (git diff --stat tests/golden; open them) before committing.
# Usage: scripts/update-golden.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export LUX_UPDATE_GOLDEN=1
cmake --build "$build" -j2 --target script_timeline_golden_test gfx_font_golden_test \
  effects_flat2d_golden_test effects_screen_golden_test effects_scene_test scenetool \
  effects_scenefx_test shell_demo_test
mkdir -p tests/golden/timeline tests/golden/fonts tests/golden/effects2d tests/golden/screenfx \
  tests/golden/scene tests/golden/scenefx tests/golden/demo
bin=$build/tests/script/script_timeline_golden_test
fonts=$build/tests/gfx/gfx_font_golden_test
work=$(mktemp -d)
(cd "$work" && "$bin")
(cd "$work" && "$fonts")
(cd "$work" && "$build/tests/effects/effects_flat2d_golden_test")
(cd "$work" && "$build/tests/effects/effects_screen_golden_test")
(cd "$work" && "$build/tests/effects/effects_scene_test" \
  --gtest_filter='SceneEffects.gledAndGled2*')
(cd "$work" && "$build/tests/effects/effects_scenefx_test" \
  --gtest_filter='SceneEffects.productionsMatchTheirReviewedPictures')
# The default production, played whole (eighteen frames kept).
(cd "$work" && "$build/tests/shell/shell_demo_test")
rm -rf "$work"
git status --short tests/golden
