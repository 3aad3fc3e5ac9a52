#!/usr/bin/env bash
# Writes seed inputs for the reader fuzz targets into DIR/text, DIR/csv,
# DIR/xlsx and DIR/xls: small delimited text files in UTF-8, UTF-8 with BOM
# and GBK, comma-separated files as the import wizard reads them, small .xlsx
# workbooks zipped by python3, workbooks written by python3-xlwt (BIFF8, when
# it is installed) and one BIFF5 workbook built byte by byte.
set -euo pipefail
out=${1:?usage: make_seeds.sh DIR}
mkdir -p "$out/text" "$out/xls" "$out/csv" "$out/xlsx"

printf '^a^b^c\nd^^e^\r\nf\rg' >"$out/text/ragged.txt"
printf ',\xef\xbb\xbf\xe4\xb8\xad\xe6\x96\x87,\xe9\x87\x91\xe9\xa2\x9d\r\n1,12.50\r\n' >"$out/text/bom.txt"
printf '|\xd6\xd0\xce\xc4|\xb9\xa4\xd7\xca\n\xff|\xd6\n' >"$out/text/gbk.txt"
printf '\t\x01\n\n\n2024-03-15\t100\t\n' >"$out/text/tabs.txt"

printf '\xe6\x97\xa5\xe6\x9c\x9f,\xe9\x87\x91\xe9\xa2\x9d,\xe9\x87\x91\xe9\xa2\x9d\r\n2024-03-02,"1,234.56",2\r\n' >"$out/csv/captions.csv"
printf '\xd5\xaa\xd2\xaa,a\n"q""uoted\nline",\n,,\nx,y,z\n' >"$out/csv/gbk.csv"
printf '"open,1\r2,3' >"$out/csv/open.csv"

/usr/bin/python3 - "$out/xlsx" <<'PY'
import os, sys, zipfile
out = sys.argv[1]
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
def book(name, sheet, shared=(), styles='<styleSheet><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs></styleSheet>'):
    with zipfile.ZipFile(os.path.join(out, name), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
        z.writestr('xl/workbook.xml', f'<workbook {ns} {rel}><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="worksheet" Target="worksheets/sheet1.xml"/></Relationships>')
        z.writestr('xl/worksheets/sheet1.xml', f'<worksheet {ns}><sheetData>{sheet}</sheetData></worksheet>')
        z.writestr('xl/sharedStrings.xml', '<sst>' + ''.join(f'<si><t>{s}</t></si>' for s in shared) + '</sst>')
        z.writestr('xl/styles.xml', styles)
book('cells.xlsx', '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>12.5</v></c><c r="C1" t="b"><v>1</v></c></row>'
     '<row r="3"><c r="A3" s="1"><v>45000</v></c><c r="D3" t="inlineStr"><is><t>x</t></is></c><c r="E3" t="e"><v>#N/A</v></c></row>',
     shared=('日期',))
book('empty.xlsx', '')
PY

py=""
for p in /usr/bin/python3 python3; do
    if "$p" -c 'import xlwt' 2>/dev/null; then py=$p; break; fi
done
if [ -z "$py" ]; then
    echo "make_seeds.sh: python3-xlwt is not installed; no workbook seeds" >&2
    exit 0
fi

"$py" - "$out/xls" <<'PY'
import datetime, os, struct, sys, xlwt
out = sys.argv[1]

def book(name, cells):
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('S1')
    date = xlwt.easyxf(num_format_str='YYYY-MM-DD')
    for r, c, v in cells:
        ws.write(r, c, v, date) if isinstance(v, datetime.date) else ws.write(r, c, v)
    wb.save(os.path.join(out, name))

book('table.xls', [(r, c, 'r%dc%d' % (r, c)) for r in range(4) for c in range(3)])
book('values.xls', [(0, 0, 12), (0, 1, 0.1), (0, 2, '中文'), (0, 3, datetime.date(2024, 3, 15)),
                    (0, 4, True), (1, 6, 1e20), (2, 200, 'far')])
book('empty.xls', [])

# BIFF5: globals (BOF, CODEPAGE 936, BOUNDSHEET, EOF), then the sheet, in a
# compound file whose "Book" stream is padded to 4096 bytes.
def rec(t, body=b''):
    return struct.pack('<HH', t, len(body)) + body
bof = lambda kind: struct.pack('<HHI', 0x500, kind, 0)
name = b'S1'
head = rec(0x809, bof(5)) + rec(0x42, struct.pack('<H', 936))
at = len(head) + 4 + 7 + len(name) + 4
glob = head + rec(0x85, struct.pack('<IHB', at, 0, len(name)) + name) + rec(0x0A)
text = '工资'.encode('gbk')
sheet = (rec(0x809, bof(0x10)) + rec(0x200, struct.pack('<5H', 0, 2, 0, 2, 0)) +
         rec(0x204, struct.pack('<4H', 0, 0, 0, len(text)) + text) +
         rec(0x203, struct.pack('<3Hd', 0, 1, 0, 1234.56)) + rec(0x203, struct.pack('<3Hd', 1, 1, 0, 7)) +
         rec(0x0A))
stream = (glob + sheet).ljust(4096, b'\0')
n = len(stream) // 512
END, FREE = 0xFFFFFFFE, 0xFFFFFFFF
hdr = (b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1' + bytes(16) + struct.pack('<5H', 0x3E, 3, 0xFFFE, 9, 6) + bytes(6) +
       struct.pack('<9I', 0, 1, 1, 0, 4096, END, 0, END, 0) + struct.pack('<I', 0) + struct.pack('<I', FREE) * 108)
fat = struct.pack('<II', 0xFFFFFFFD, END) + b''.join(struct.pack('<I', i + 3 if i + 1 < n else END) for i in range(n))
fat = fat.ljust(512, b'\xff')
def entry(nm, typ, child, start, size):
    e = nm.encode('utf-16-le').ljust(64, b'\0') + struct.pack('<HBBIII', (len(nm) + 1) * 2, typ, 1, FREE, FREE, child)
    return e + bytes(36) + struct.pack('<III', start, size, 0)
dirs = (entry('Root Entry', 5, 1, END, 0) + entry('Book', 2, FREE, 2, len(stream))).ljust(512, b'\0')
with open(os.path.join(out, 'biff5.xls'), 'wb') as f:
    f.write(hdr + fat + dirs + stream)
PY
echo "seeds in $out: $(ls "$out/text" | wc -l) text, $(ls "$out/csv" | wc -l) csv, $(ls "$out/xlsx" | wc -l) xlsx, $(ls "$out/xls" | wc -l) workbooks"
