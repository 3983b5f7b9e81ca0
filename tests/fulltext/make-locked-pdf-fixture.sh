#!/bin/sh
# Writes fixtures/locked.pdf, a PDF that opens only with the password "secret",
# which the extraction test reads: a one-page PDF written here, encrypted by
# Debian's qpdf. Run it again only to change the fixture.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%s\n' '%PDF-1.4' '1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj' \
    '2 0 obj <</Type/Pages/Kids[3 0 R]/Count 1>> endobj' \
    '3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 100]/Contents 4 0 R/Resources<</Font<</F1 5 0 R>>>>>> endobj' \
    '4 0 obj <</Length 44>> stream' 'BT /F1 12 Tf 10 50 Td (Bolts M8 secret) Tj ET' 'endstream endobj' \
    '5 0 obj <</Type/Font/Subtype/Type1/BaseFont/Helvetica>> endobj' \
    'trailer <</Root 1 0 R>>' '%%EOF' >"$tmp/plain.pdf"
qpdf --encrypt secret secret 256 -- "$tmp/plain.pdf" fixtures/locked.pdf 2>/dev/null || test -s fixtures/locked.pdf
