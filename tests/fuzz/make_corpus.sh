#!/usr/bin/env bash
# Rewrites the seed corpora in corpus/ from the product's own writers (data files, bundles), the
# artwork generator's PNG files and small PNGs of other kinds, sox, protocol_seeds.py, and version pages.
# Usage: tests/fuzz/make_corpus.sh <fuzz build tree, configured with -DTOVAREK_FUZZ=ON>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
corpus=$here/corpus

cmake --build "$build" --target tovarek_fuzz_seeds tovarek_image_pack
rm -rf "$corpus"
mkdir -p "$corpus"/{AudioFile,ImagePack,Protocol,UpdateCheck}
"$build/tests/fuzz/tovarek_fuzz_seeds" "$corpus"

# The bundle writer stores its entries; a bundle that went through a user's zip tool is deflated,
# which also keeps this seed small.
python3 - "$corpus/BackupArchive/preset.t2u" <<'PY'
import sys, zipfile
path = sys.argv[1]
entries = [(i.filename, zipfile.ZipFile(path).read(i)) for i in zipfile.ZipFile(path).infolist()]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in entries:
        z.writestr(name, data)
PY

# Impulses of 100 samples in the formats and rates the reader accepts.
audio=$corpus/AudioFile
sox -n -r 44100 -c 1 -b 16 "$audio/mono16-44100.wav" synth 100s sine 1000
sox -n -r 96000 -c 2 -b 24 "$audio/stereo24-96000.wav" synth 100s square 500
sox -n -r 48000 -c 1 -b 32 -e floating-point "$audio/float-48000.wav" synth 100s sine 300
sox -n -r 192000 -c 2 -b 8 -e unsigned "$audio/u8-192000.wav" synth 100s sawtooth 2000
sox -n -r 88200 -c 2 -b 16 "$audio/stereo16-88200.aiff" synth 100s sine 700
sox -n -r 176400 -c 1 -b 32 "$audio/mono32-176400.aiff" synth 100s triangle 900

# Packs of a few small images from the artwork generator, and an empty pack. The artwork is all
# 8-bit RGBA, and the PNG checksums keep the fuzzer from reaching other kinds by mutation: one more
# pack holds small PNGs of the other kinds the decoder converts (16 bits, palette with tRNS, low-depth
# grey, grey and alpha with gAMA).
python3 - "$build/Resources/images" "$corpus/ImagePack" <<'PY'
import os, struct, sys, zlib
images, out = sys.argv[1], sys.argv[2]
def pack(path, files):
    head = struct.pack("<II", 8, len(files))
    offset = 8 + 16 * len(files)
    directory, tail = b"", b""
    for name, data in files:
        directory += struct.pack("<IIII", offset, len(name), offset + len(name), len(data))
        tail += name + data
        offset += len(name) + len(data)
    open(path, "wb").write(head + directory + tail)
def artwork(names):
    return [(n.encode(), open(os.path.join(images, n), "rb").read()) for n in names]
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
def png(width, height, colour_type, depth, row, extra=b""):
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    pixels = b"".join(b"\0" + row(y) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra
            + chunk(b"IDAT", zlib.compress(pixels)) + chunk(b"IEND", b""))
pack(os.path.join(out, "three.bin"), artwork(["CloseOff.png", "FXRedLine@2x.png", "Assigned.png"]))
pack(os.path.join(out, "empty.bin"), [])
pack(os.path.join(out, "kinds.bin"), [
    (b"CloseOff.png", png(5, 3, 2, 16, lambda y: bytes((y * 40 + i * 7) % 256 for i in range(30)))),
    (b"Assigned.png", png(6, 4, 3, 4, lambda y: bytes([0x01 + y, 0x23, 0x30 + y]),
                          chunk(b"PLTE", bytes(range(48))) + chunk(b"tRNS", bytes([0, 128, 255])))),
    (b"FXRedLine@2x.png", png(7, 2, 0, 2, lambda y: bytes([0x1B + y, 0xE4]))),
    (b"SwitchUp@2x.png", png(3, 3, 4, 16, lambda y: bytes((y * 90 + i * 31) % 256 for i in range(12)),
                             chunk(b"gAMA", struct.pack(">I", 100000)))),
])
PY

# Version pages: the line the check looks for, and one behind a web page's markup.
printf 'LATEST_VERSION = 4.2.0.1\n' > "$corpus/UpdateCheck/newer.txt"
printf '<html>\n<body>LATEST_VERSION = 9.0.0.0</body>\n' > "$corpus/UpdateCheck/html.txt"
# The same line behind a UTF-8 mark, and in UTF-16 (little-endian, with its mark).
printf '\xef\xbb\xbfLATEST_VERSION = 4.3.0.0\n' > "$corpus/UpdateCheck/utf8-mark.txt"
printf '\xff\xfeLATEST_VERSION = 4.3.0.0\n' | python3 -c 'import sys; d = sys.stdin.buffer.read(); sys.stdout.buffer.write(d[:2] + d[2:].decode().encode("utf-16-le"))' \
    > "$corpus/UpdateCheck/utf16.txt"

# Unit answers that take the protocol and the service through a full refresh and on.
python3 "$here/protocol_seeds.py" "$corpus/Protocol"

du -ab "$corpus" | sort -k2
