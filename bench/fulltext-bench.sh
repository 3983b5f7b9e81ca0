#!/usr/bin/env bash
# The index of attached files on the generated catalogue whose 2,000 attached
# files are real price lists: indexing throughput beside pdftotext and a plain
# zip-and-XML extraction in Python on the same files, a word and a phrase
# search, and the main window's event loop while the index is made.
set -euo pipefail
BUILD=$(realpath "${1:-build}")
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
export XDG_CONFIG_HOME=$W/config XDG_RUNTIME_DIR=$W/runtime
mkdir -p "$XDG_CONFIG_HOME" -m 700 "$XDG_RUNTIME_DIR" "$W/bin" "$W/files" "$W/text"
# A copy of the program keeps its catalogue in "Data" beside it.
cp "$BUILD/quillon" "$W/bin/quillon"
DATA=$W/bin/Data
"$BUILD/bench/quillon-gen" "$DATA" --scale "${BENCH_SCALE:-1}" --real-documents >/dev/null

seconds() { # command...: wall-clock seconds of one run
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
mbps() { echo "scale=1; $1 / 1048576 / $2" | bc -l; }

# The attached files unpacked, each under its kind's extension.
/usr/bin/python3 - "$DATA" "$W/files" <<'PY'
import os, sqlite3, sys, zlib
data, out = sys.argv[1:]
name = next(f for f in os.listdir(data) if f.upper() == "FILES.DB")
for file_id, description, blob in sqlite3.connect(os.path.join(data, name)).execute(
        "select FileID, Description, File from Files"):
    with open(os.path.join(out, "%d.%s" % (file_id, description.rsplit(".", 1)[-1])), "wb") as f:
        f.write(zlib.decompress(blob))
PY
total=$(du -cb "$W"/files/* | tail -1 | cut -f1)
pdf_bytes=$(du -cb "$W"/files/*.pdf | tail -1 | cut -f1)
zip_bytes=$(du -cb "$W"/files/*.docx "$W"/files/*.xlsx "$W"/files/*.odt "$W"/files/*.ods | tail -1 | cut -f1)
echo "attached files: $(ls "$W/files" | wc -l), $((total / 1048576)) MB unpacked"

# The machine may be shared: its load and the CPU time taken (the extraction
# processes included) tell a slow run from a slow program.
echo "load average before indexing: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc)"
for run in 1 2 3; do
    start=$(date +%s.%N)
    /usr/bin/time -o "$W/cpu" -f "%U %S" "$W/bin/quillon" --rebuild-index >/dev/null 2>&1
    t=$(echo "$(date +%s.%N) - $start" | bc -l)
    echo "index from scratch (quillon --rebuild-index), run $run: $(printf %.2f "$t") s wall," \
         "$(awk '{printf "%.2f", $1 + $2}' "$W/cpu") s CPU, $(mbps "$total" "$t") MB/s of source files"
done
t=$(seconds "$W/bin/quillon" --find-in-files "нетакогослова")
echo "--find-in-files, nothing changed (program start, look at the index, one search): $(echo "$t * 1000" | bc -l | cut -c1-6) ms"
"$BUILD/bench/fulltextbench" look "$DATA" "$W/bin/quillon"

reference_pdf() { for f in "$@"; do pdftotext -q "$f" "$W/text/$(basename "$f").txt"; done; }
t_ref=$(seconds reference_pdf "$W"/files/*.pdf)
# What pdftotext pays to start once a file, taken from its reading time.
start_only() { for f in "$@"; do pdftotext -v 2>/dev/null || true; done; }
t_start=$(seconds start_only "$W"/files/*.pdf)
echo "PDFs:        quillon, one extraction process: $("$BUILD/bench/fulltextbench" extract "$W/bin/quillon" "$W"/files/*.pdf)"
echo "             pdftotext, a process a file: $(mbps "$pdf_bytes" "$t_ref") MB/s;" \
     "less its $(echo "scale=1; $t_start * 1000 / $(ls "$W"/files/*.pdf | wc -l)" | bc -l) ms start a file:" \
     "$(mbps "$pdf_bytes" "$(echo "$t_ref - $t_start" | bc -l)") MB/s"

echo "office zips: quillon, one extraction process: $("$BUILD/bench/fulltextbench" extract "$W/bin/quillon" "$W"/files/*.docx "$W"/files/*.xlsx "$W"/files/*.odt "$W"/files/*.ods)"
t_ref=$(seconds /usr/bin/python3 - "$W/files" "$W/text" <<'PY'
import glob, os, sys, zipfile
import xml.etree.ElementTree as ET
src, out = sys.argv[1:]
parts = {"docx": ["word/document.xml"], "odt": ["content.xml"], "ods": ["content.xml"]}
for path in glob.glob(os.path.join(src, "*")):
    kind = path.rsplit(".", 1)[-1]
    if kind not in ("docx", "xlsx", "odt", "ods"):
        continue
    with zipfile.ZipFile(path) as z:
        names = parts.get(kind) or [n for n in z.namelist()
                                    if n == "xl/sharedStrings.xml" or n.startswith("xl/worksheets/")]
        text = " ".join(t for n in names for t in ET.fromstring(z.read(n)).itertext())
    with open(os.path.join(out, os.path.basename(path) + ".txt"), "w") as f:
        f.write(text)
PY
)
echo "             Python zipfile+XML, one process: $(mbps "$zip_bytes" "$t_ref") MB/s"

cp "$W"/files/*.csv "$W"/files/*.html "$W/text/" 2>/dev/null || true
"$BUILD/bench/fulltextbench" search "$DATA" "болтов" '"Болт М8"'
t=$(seconds grep -rli "болт" "$W/text")
echo "reference: grep -rli over the extracted texts: $(echo "$t * 1000" | bc -l | cut -c1-6) ms"

"$BUILD/bench/fulltextbench" window "$DATA" "$W/bin/quillon"
