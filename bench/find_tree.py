#!/usr/bin/env python3
"""Writes the find benchmark's tree: FILES files of text in FOLDERS folders,
TOTAL bytes in all, a marker word planted in one file of every thousand.

    find_tree.py DIR [FILES [FOLDERS [TOTAL]]]
"""
import os
import random
import sys

root = sys.argv[1]
files = int(sys.argv[2]) if len(sys.argv) > 2 else 200_000
folders = int(sys.argv[3]) if len(sys.argv) > 3 else 20_000
total = int(sys.argv[4]) if len(sys.argv) > 4 else 2 * 1024**3

rng = random.Random(27)
words = ("the of and to in is was for that with as on by at from this be are an or it which not but had have "
         "file folder search pattern window pane read write copy move delete rename archive viewer text line "
         "System Config Manager Buffer Index Stream Thread Worker Result Query").split()
# One block of text reused at shifting offsets: writing is what costs, not making words.
block = []
size = 0
while size < 16 * 1024 * 1024:
    line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 16))) + "\n"
    block.append(line)
    size += len(line)
text = "".join(block).encode()

# Folders in a tree: 20 at the top, each holding further levels.
paths = []
for i in range(folders):
    parts = [f"d{i % 20:02d}"]
    if i >= 20:
        parts.append(f"s{(i // 20) % 50:02d}")
    if i >= 1000:
        parts.append(f"t{i // 1000:02d}")
    paths.append(os.path.join(root, *parts))
for p in paths:
    os.makedirs(p, exist_ok=True)

per_file = total // files
exts = [".txt", ".c", ".h", ".md", ".log", ".json", ".py", ".html"]
for n in range(files):
    folder = paths[n % folders]
    length = max(1, int(per_file * rng.uniform(0.2, 1.8)))
    start = rng.randrange(0, len(text) - length - 1)
    data = text[start:start + length]
    if n % 1000 == 7:
        cut = data.rfind(b"\n", 0, len(data) // 2) + 1
        data = data[:cut] + b"Quokka_marker_" + str(n).encode() + b" was here\n" + data[cut:]
    with open(os.path.join(folder, f"f{n:06d}{exts[n % len(exts)]}"), "wb") as f:
        f.write(data)
print(f"{files} files in {folders} folders under {root}")
