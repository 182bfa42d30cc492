#!/usr/bin/env bash
# Draws the program icon, a surveying instrument on its tripod with a target
# arrow, and writes res/quarnel.ico: one 32 x 32 image in 24-bit colour, as
# the dialog's icon resource wants it. ImageMagick draws; its ICO writer only
# knows 32-bit images, so the file itself is packed by the few lines of Python
# below. Run it again only to change the artwork; the .ico is committed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

out=${1:-res/quarnel.ico}

convert -size 32x32 xc:'#dceefb' \
  -fill '#7fb069' -stroke none -draw 'rectangle 0,27 31,31' \
  -stroke '#8a5a2b' -strokewidth 2 -draw 'line 12,14 4,30' -draw 'line 12,14 20,30' \
  -strokewidth 1 -draw 'line 12,14 12,30' \
  -stroke '#1f2d3d' -fill '#3b5b7a' -draw 'rectangle 8,9 16,13' \
  -fill '#f2c14e' -draw 'rectangle 10,4 14,8' \
  -stroke '#c0392b' -strokewidth 2 -draw 'line 18,6 27,6' \
  -fill '#c0392b' -stroke '#c0392b' -strokewidth 1 -draw 'polygon 30,6 25,2 25,10' \
  -depth 8 rgb:- |
python3 -c '
import struct, sys
size = 32
rgb = sys.stdin.buffer.read()
assert len(rgb) == size * size * 3, len(rgb)
# DIB rows run bottom-up, pixels as blue, green, red; 96 bytes a row needs no padding.
xor = b"".join(
    bytes(b for x in range(size) for b in rgb[(y * size + x) * 3:(y * size + x) * 3 + 3][::-1])
    for y in reversed(range(size)))
mask = bytes(4 * size)  # every pixel opaque
header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
image = header + xor + mask
directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), 6 + 16)
sys.stdout.buffer.write(directory + image)
' > "$out"
echo "wrote $out"
