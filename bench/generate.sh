#!/bin/sh
# Writes the benchmark inputs into folder $1:
#   launch/C:\Tarnwick.cfg   300 entries of `true`
#   read/C:\Tarnwick.cfg     a million rejected lines (a leading quote, never closed), CR LF ends,
#                            33 bytes each: 33 MB
#   read-utf8/C:\Tarnwick.cfg    the same lines with a "ü" in each, in UTF-8 (35 MB)
#   read-utf16/C:\Tarnwick.cfg   those lines as UTF-16 LE with its mark, as PowerShell 5.1 writes (70 MB)
#   autostart/autostart/     300 XDG autostart entries running `true`, for dex
set -eu
out=$1
mkdir -p "$out/launch" "$out/read" "$out/read-utf8" "$out/read-utf16" "$out/autostart/autostart"
awk 'BEGIN { for (i = 0; i < 300; i++) print "true" }' > "$out/launch/C:\\Tarnwick.cfg"
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "\"unclosed quote at line %07d\r\n", i }' \
  > "$out/read/C:\\Tarnwick.cfg"
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "\"unclosed quote at line %07d \303\274\r\n", i }' \
  > "$out/read-utf8/C:\\Tarnwick.cfg"
{ printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$out/read-utf8/C:\\Tarnwick.cfg"; } \
  > "$out/read-utf16/C:\\Tarnwick.cfg"
i=0
while [ $i -lt 300 ]; do
  printf '[Desktop Entry]\nType=Application\nName=true %d\nExec=true\n' $i \
    > "$out/autostart/autostart/true$i.desktop"
  i=$((i + 1))
done
