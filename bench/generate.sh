#!/bin/sh
# Writes the benchmark inputs into folder $1:
#   launch/C:\Tarnwick.cfg   300 entries of `true`
#   read/C:\Tarnwick.cfg     a million rejected lines (a leading quote, never closed), CR LF ends,
#                            33 bytes each: 33 MB
#   autostart/autostart/     300 XDG autostart entries running `true`, for dex
set -eu
out=$1
mkdir -p "$out/launch" "$out/read" "$out/autostart/autostart"
awk 'BEGIN { for (i = 0; i < 300; i++) print "true" }' > "$out/launch/C:\\Tarnwick.cfg"
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "\"unclosed quote at line %07d\r\n", i }' \
  > "$out/read/C:\\Tarnwick.cfg"
i=0
while [ $i -lt 300 ]; do
  printf '[Desktop Entry]\nType=Application\nName=true %d\nExec=true\n' $i \
    > "$out/autostart/autostart/true$i.desktop"
  i=$((i + 1))
done
