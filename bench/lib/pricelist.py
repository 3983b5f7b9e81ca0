# Writes a price-list-like file of the given size in MB: words and numbers
# that deflate shrinks about threefold, with a share of bytes it cannot shrink
# (scanned pictures). The same seed gives the same bytes in every run.
import random, sys
rng = random.Random(2024)
words = [w.encode() for w in "firm item price list steel pipe valve flange bolt nut washer "
         "Moscow delivery discount catalogue supplier maker seller 2024 rub. pcs kg m".split()]
target = int(sys.argv[2]) << 20
with open(sys.argv[1], "wb") as out:
    written = 0
    while written < target:
        block = b" ".join(rng.choices(words, k=20000)) + b"\n"
        block += str(rng.random()).encode() * 50 + rng.randbytes(len(block) // 8)
        out.write(block)
        written += len(block)
    out.truncate(target)
