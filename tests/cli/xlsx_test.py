"""Excel workbooks: orvelwddx-check batch and journal write them, batch reads them, against the local service; the
workbooks are read and written by openpyxl (Debian's python3-openpyxl), as a spreadsheet would."""

import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest
import zipfile

import openpyxl

CHECK = os.environ["ORVELWDDX_CHECK"]
SERVICE = os.environ["ORVELWDDX_SERVICE"]
GREEN, RED = "FF008000", "FFFF0000"


def colour(cell):
    return cell.font.color.rgb if cell.font and cell.font.color else None


class XlsxTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orvel-xlsx-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        cls.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(cls.dir, "config"),
                       XDG_DATA_HOME=os.path.join(cls.dir, "data"), ORVELWDDX_USER="", ORVELWDDX_PASS="")
        cls.service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0"], env=cls.env, stderr=subprocess.PIPE,
                                       text=True)
        cls.addClassCleanup(cls.stop_service)
        for line in cls.service.stderr:
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                break
        else:
            raise RuntimeError("the service did not start")
        threading.Thread(target=cls.service.stderr.read, daemon=True).start()
        base = "127.0.0.1:" + served.group(1)
        cls.env.update(ORVELWDDX_HOST=base,
                       ORVELWDDX_VIES_URL="http://%s/taxation_customs/vies/services/checkVatService" % base,
                       ORVELWDDX_BZST_URL="http://%s/app/v1/abfrage" % base)

    @classmethod
    def stop_service(cls):
        cls.service.terminate()
        cls.service.wait(10)

    def check(self, *args, stdin=None):
        return subprocess.run([CHECK, *args], env=self.env, input=stdin, capture_output=True, timeout=120)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_a_batch_workbook_keeps_every_cell_as_text_and_shows_results_as_the_window(self):
        out = self.path("checked.xlsx")
        ran = self.check("batch", "-", "--xlsx", out, stdin=(
            "Kunde;iban;blz;kto;plz;vat;Karte\n"
            "Muster GmbH;;37040044;0532013000;01067;DE136695976;4111111111111111\n"
            "-Minus AG;DE89370400440532013001;;;;;+49 221 123\n").encode())
        self.assertEqual(ran.returncode, 1, ran.stderr)
        self.assertEqual(ran.stdout, b"")
        sheet = openpyxl.load_workbook(out).active
        rows = list(sheet.iter_rows())
        header = [cell.value for cell in rows[0]]
        self.assertEqual(header[:7], ["Kunde", "iban", "blz", "kto", "plz", "vat", "Karte"])
        self.assertEqual(header[-1], "Error")
        self.assertTrue(all(cell.font.b for cell in rows[0]))
        self.assertEqual(sheet.freeze_panes, "A2")
        at = {name: i for i, name in enumerate(header)}

        def cell(row, name):
            return rows[row][at[name]]

        # Text as typed: leading zeros, long digit strings and leading signs, with no guard in front.
        for row, name, value in [(1, "kto", "0532013000"), (1, "plz", "01067"), (1, "Karte", "4111111111111111"),
                                 (2, "Kunde", "-Minus AG"), (2, "Karte", "+49 221 123"), (1, "iban_Result", "0")]:
            with self.subTest(name=name):
                self.assertEqual((cell(row, name).value, cell(row, name).data_type), (value, "s"))
        self.assertEqual(colour(cell(1, "iban_Result")), GREEN)
        self.assertEqual(colour(cell(1, "iban_Resulttext")), GREEN)
        self.assertEqual(colour(cell(2, "iban_Result")), RED)
        self.assertIsNone(cell(2, "vat_Result").value)
        # The VAT id's answer in its named columns instead of one string.
        self.assertEqual([cell(1, "vat_" + name).value for name in ("Land", "Nummer", "Gültig")],
                         ["DE", "136695976", "ja"])
        self.assertRegex(cell(1, "vat_Datum").value, r"^\d{4}-\d\d-\d\d")
        self.assertIn("Offline-Prüfung", cell(1, "vat_Anschrift").value)
        self.assertIsNone(cell(1, "vat_Resulttext").value)
        # Columns as wide as their longest cell, within bounds.
        width = sheet.column_dimensions[openpyxl.utils.get_column_letter(at["Karte"] + 1)].width
        self.assertGreaterEqual(width, 16)
        self.assertLessEqual(sheet.column_dimensions[openpyxl.utils.get_column_letter(at["vat_Anschrift"] + 1)].width,
                             62)

    def test_a_workbook_is_read_as_its_csv_would_be(self):
        book = openpyxl.Workbook()
        sheet = book.active
        sheet.append(["Kunde", "blz", "kto", "plz", "ort"])
        sheet.append(["Muster", "37040044", "0532013000", "80331", "Muenchen"])
        sheet.append(["Zahlen", 37040044, 532013000, None, None])
        sheet.cell(row=5, column=1, value="nach einer Lücke")  # row 4 left out, the row after it nothing to check
        sheet.cell(row=6, column=2, value="37040044")  # fewer cells than the header
        book.create_sheet("Zweites Blatt").append(["iban"])
        workbook = self.path("kunden.xlsx")
        book.save(workbook)
        csv = self.path("kunden.csv")
        with open(csv, "w", encoding="utf-8") as text:
            text.write("Kunde,blz,kto,plz,ort\nMuster,37040044,0532013000,80331,Muenchen\n"
                       "Zahlen,37040044,532013000,,\n\nnach einer Lücke,,,,\n,37040044\n")
        from_book, from_csv = self.check("batch", workbook), self.check("batch", csv)
        self.assertEqual(from_book.returncode, from_csv.returncode, from_book.stderr)
        self.assertEqual(from_book.stdout.decode(), from_csv.stdout.decode())
        self.assertIn("nichts zu prüfen", from_book.stdout.decode())
        self.assertEqual(from_book.stdout.count(b"\r\n"), 5)  # the empty line is left out as in CSV

    def test_inline_text_and_the_first_sheet_by_its_relation(self):
        # As other programs write workbooks: text inline or in runs, the first sheet stored as sheet2.xml.
        workbook = self.path("andere.xlsx")
        ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
        rel = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
        with zipfile.ZipFile(workbook, "w") as archive:
            archive.writestr("xl/workbook.xml", '<workbook %s %s><sheets><sheet name="Daten" sheetId="1" r:id="rId7"/>'
                                                '<sheet name="Alt" sheetId="2" r:id="rId1"/></sheets></workbook>'
                             % (ns, rel))
            archive.writestr("xl/_rels/workbook.xml.rels",
                             '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                             '<Relationship Id="rId1" Type="x" Target="worksheets/sheet1.xml"/>'
                             '<Relationship Id="rId7" Type="x" Target="/xl/worksheets/sheet2.xml"/></Relationships>')
            archive.writestr("xl/sharedStrings.xml", '<sst %s><si><r><t>DE893704</t></r><r><t>00440532013000'
                                                     '</t></r></si><si><t>iban</t></si></sst>' % ns)
            archive.writestr("xl/worksheets/sheet1.xml", '<worksheet %s><sheetData><row r="1"><c r="A1" t="inlineStr">'
                                                         '<is><t>falsch</t></is></c></row></sheetData></worksheet>' % ns)
            archive.writestr("xl/worksheets/sheet2.xml",
                             '<worksheet %s><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>Notiz</t></is></c>'
                             '<c r="C1" t="s"><v>1</v></c></row><row r="2"><c r="A2" t="inlineStr"><is>'
                             '<t xml:space="preserve"> a &amp; b </t></is></c><c r="C2" t="s"><v>0</v></c></row>'
                             '</sheetData></worksheet>' % ns)
        ran = self.check("batch", workbook)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        lines = ran.stdout.decode().split("\r\n")
        self.assertTrue(lines[0].startswith("Notiz,,iban,Result,"), lines[0])
        self.assertTrue(lines[1].startswith(" a & b ,,DE89370400440532013000,0,"), lines[1])

    def test_a_broken_workbook_is_refused(self):
        broken = self.path("kaputt.xlsx")
        with zipfile.ZipFile(broken, "w") as archive:
            archive.writestr("xl/worksheets/sheet1.xml", "<worksheet><sheetData><row>")
        ran = self.check("batch", broken)
        self.assertEqual(ran.returncode, 2)
        self.assertIn(b"sheet1.xml", ran.stderr)

    def test_the_journal_for_excel(self):
        for args in (["--own", "DE136695976"], ["--own", "DE136695976", "--bzst"]):
            ran = self.check("vat-confirm", "ATU13585627", *args)
            self.assertEqual(ran.returncode, 0, ran.stderr)
        iso = self.check("journal", "--from", "2000-01-01", "--to", "2999-12-31", "--csv")
        german = self.check("journal", "--from", "1.1.2000", "--to", "31.12.2999", "--csv")
        self.assertEqual(german.returncode, 0, german.stderr)
        self.assertEqual(german.stdout, iso.stdout)
        self.assertEqual(iso.stdout.count(b"\r\n"), 3)
        self.assertEqual(self.check("journal", "--from", "31.12.26", "--csv").returncode, 2)

        excel = self.check("journal", "--csv", "--excel")
        self.assertEqual(excel.returncode, 0, excel.stderr)
        self.assertTrue(excel.stdout.startswith(b"\xef\xbb\xbfid;time_utc;time_local;kind;"), excel.stdout[:80])
        self.assertEqual(excel.stdout.count(b"\r\n"), 3)
        self.assertNotIn(b"\n", excel.stdout.replace(b"\r\n", b""))

        book = self.path("journal.xlsx")
        ran = self.check("journal", "--xlsx", book)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        rows = [[cell for cell in row] for row in openpyxl.load_workbook(book).active.iter_rows()]
        header = [cell.value for cell in rows[0]]
        self.assertEqual(";".join(header), excel.stdout[3:].split(b"\r\n")[0].decode())
        self.assertEqual(len(rows), 3)
        status = header.index("status")
        self.assertEqual([row[status].value for row in rows[1:]], ["valid", "valid"])
        self.assertEqual(colour(rows[1][status]), GREEN)
        self.assertTrue(all(cell.data_type == "s" for row in rows for cell in row if cell.value is not None))

    def test_a_workbook_that_cannot_be_written_has_its_own_status(self):
        nowhere = self.path("fehlt/x.xlsx")
        for args in (["batch", "-", "--xlsx", nowhere], ["journal", "--xlsx", nowhere]):
            with self.subTest(args=args[0]):
                ran = self.check(*args, stdin=b"iban\nDE89370400440532013000\n")
                self.assertEqual(ran.returncode, 5, ran.stderr)
                self.assertIn(nowhere.encode(), ran.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
