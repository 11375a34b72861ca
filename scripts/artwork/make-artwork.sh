#!/usr/bin/env bash
# Renders the flag and menu artwork drawn for this project (SVG sources in this
# folder) into the PNG files the user interface loads, and makes its video clip.
# Run it after editing a source; the results are committed, so the build needs
# neither renderer.
# Needs librsvg2-bin, gstreamer1.0-tools, gstreamer1.0-plugins-base and -good.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../../qml/images"
for flag in gr uk us; do
  rsvg-convert -w 60 -h 40 "$here/$flag.svg" -o "$out/Flags/$flag.png"
done
rsvg-convert -w 48 -h 48 "$here/menu.svg" -o "$out/Icons/menu.png"

# A one-second test-pattern clip for the media page (GStreamer, Motion JPEG in AVI).
gst-launch-1.0 -q videotestsrc num-buffers=25 pattern=smpte \
  ! video/x-raw,width=256,height=144,framerate=25/1 ! jpegenc quality=40 ! avimux \
  ! filesink location="$out/../videos/1.avi"
