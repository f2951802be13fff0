# What the benchmarks share; sourced, never run.

# bezel_pixel SIZE RENDER WORK: sets x, y and colour (RRGGBB) to a pixel of the saver's bezel, which no
# hand reaches, and the colour the first frame gives it, from RENDER (dialsaver-render) drawing the face
# into WORK/face.png with the settings in XDG_CONFIG_HOME.
bezel_pixel() {
  local size=$1 render=$2 work=$3 width height radius
  width=${size%x*}
  height=${size#*x}
  radius=$(((width < height ? width : height) * 15 / 2 - 900))
  x=$((width / 2 + (radius + 475) / 15))
  y=$((height / 2))
  "$render" --size "$size" --ticks 0 --out "$work/face.png"
  colour=$(convert "$work/face.png[1x1+$x+$y]" -format '%[hex:p{0,0}]' info:)
  colour=${colour:0:6}
}
