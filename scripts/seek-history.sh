#!/usr/bin/env bash
# Which effects' pictures depend on their frame history: for each 2D and screen effect class,
# a production that runs it over a cleared screen beside a moving picture in a render target,
# rendered offline from the start and from --start-at 3 (10 fps, 96x72); prints how many of
# the 25 frames from there differ from the full render's. Needs a built build/lux32.
# ONLY="grid lofi" limits the classes.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
LUX="$root/build/lux32"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
F='"lux32.fn2|res:200"'
declare -A setup=(
 [clear]='and set x.color to 0x808000'
 [fade]='and set x.color to 0xffffff and set x.fade to 0.3'
 [designbox]='and set x.color to 0xff0000'
 [designlines]='and set x.color to 0xff0000'
 [image]='and set x.image to "lake.jpg" and set x.zoom to 0.3'
 [plasma1]='and set x.image to "lake.jpg"'
 [multitext]="and set x.font to $F and set x.0 to \"hello\" and set x.1 to \"world\" and set x.count to 2"
 [letterwriter]="and set x.font to $F and set x.c to \"A\""
 [scroller]="and set x.font to $F and set x.msg to \"a long scrolling message for the test\""
 [yodawriter]="and set x.font to $F and set x.text to \"yoda\""
 [vexwriter]="and set x.font to $F and set x.text to \"vex writer\""
 [matrix]="and set x.font to \"glyphs.png\" and set x.cols to 20 and set x.rows to 15"
 [grid]='and set x.speed to 1'
 [motionblur]='and set x.source to "src"'
 [crashzoom]='and set x.source to "src"'
 [rain]='and set x.source to "src"'
 [fadeblocks]='and set x.blocks to 16'
 [torusfader]='and set x.fade to 0.5'
 [lofi]='and set x.fade to 0.5'
)
for e in ${ONLY:-${!setup[@]}}; do
  rm -rf p full part; mkdir p; cp $root/tests/data/dali.xm p/; cp $root/tests/data/scratch-lake.jpg p/lake.jpg; cp $root/tests/effects/production/glyphs.png p/
  cat > p/script <<S
set tune to "dali.xm"
rendertarget src 0.5 0.5
viewport insrc 0 0 1 1 target src
effect base is clear
effect mover is image
effect x is $e
effect screenbg is clear
demo runs until second 8
 first set base.color to 0x204080
 and set mover.image to "lake.jpg"
 and set mover.zoom to 0.5
 and set screenbg.color to 0x101010
 ${setup[$e]}
 at second 0 start base vp insrc
 and start mover vp insrc z 1
 and fade mover.angle from 0 to 720 for 8 seconds
 and start screenbg z -5
 and start x z 2
enddemo
S
  $LUX -C p --windowed 96x72 --render $PWD/full --fps 10 --to 5.5 >/dev/null 2>err.txt || { echo "$e: full failed $(tail -2 err.txt)"; continue; }
  $LUX -C p --windowed 96x72 --render $PWD/part --fps 10 --start-at 3 --to 5.5 >/dev/null 2>err.txt || { echo "$e: part failed"; continue; }
  diff=0; last=-1
  for i in $(seq 0 24); do a=$(printf part/frame%06d.png $i); b=$(printf full/frame%06d.png $((30+i))); if ! cmp -s $a $b; then diff=$((diff+1)); last=$i; fi; done
  echo "$e: $diff of 25 frames differ (last differing frame $last)"
done
