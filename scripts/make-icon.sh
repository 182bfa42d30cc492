#!/usr/bin/env bash
# Renders the program icon from its one drawing, res/quarnel.svg:
#   res/icons/quarnel-{16,32,48,256}.png  for Linux desktops (hicolor) and the Qt dialog;
#   res/quarnel.ico                       for Windows: 32, 16, 48 and 256 pixels.
# The .ico keeps the 32-pixel image first, the one the dialogs load. Its small
# images are 32-bit DIBs (colour with alpha plus the AND mask), the 256-pixel
# one is the PNG itself, as Windows reads it. rsvg-convert draws; ImageMagick
# only unpacks the pixels. The results are committed; run this again after a
# change to the drawing. With a folder as argument it writes there instead
# (the packaging check renders into one and compares).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

out=${1:-res}
mkdir -p "$out/icons"
sizes=(32 16 48 256)
for size in "${sizes[@]}"; do
  rsvg-convert -w "$size" -h "$size" res/quarnel.svg -o "$out/icons/quarnel-$size.png"
done

python3 - "$out" "${sizes[@]}" <<'PY'
import struct, subprocess, sys
out, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
images = []
for size in sizes:
    png = f"{out}/icons/quarnel-{size}.png"
    if size >= 256:
        images.append((size, 32, open(png, "rb").read()))
        continue
    rgba = subprocess.run(["convert", png, "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
    assert len(rgba) == size * size * 4, (png, len(rgba))
    # DIB rows run bottom-up, each pixel blue, green, red, alpha.
    bgra = bytearray(rgba)
    bgra[0::4], bgra[2::4] = rgba[2::4], rgba[0::4]
    colour = b"".join(bytes(bgra[y * size * 4:(y + 1) * size * 4]) for y in reversed(range(size)))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # alpha decides; the mask shows every pixel
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    images.append((size, 32, header + colour + mask))
offset = 6 + 16 * len(images)
directory = struct.pack("<HHH", 0, 1, len(images))
for size, bits, data in images:
    directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
    offset += len(data)
with open(f"{out}/quarnel.ico", "wb") as ico:
    ico.write(directory + b"".join(data for _, _, data in images))
PY
echo "wrote $out/quarnel.ico and $out/icons/quarnel-{16,32,48,256}.png"
