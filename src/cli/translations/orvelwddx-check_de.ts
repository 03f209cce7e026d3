<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>orvelwddx-check</name>
    <message>
        <source>ORVELWDDX-CHECK(1)                  OrvelWddx                  ORVELWDDX-CHECK(1)

NAME
    orvelwddx-check - check bank accounts, IBANs, BICs, cards, addresses and VAT ids

SYNOPSIS
    orvelwddx-check [OPTIONS] iban IBAN
    orvelwddx-check [OPTIONS] blz BANKCODE ACCOUNT [--land DE|AT]
    orvelwddx-check [OPTIONS] iban-bic IBAN BIC
    orvelwddx-check [OPTIONS] bic BIC
    orvelwddx-check [OPTIONS] card NUMBER
    orvelwddx-check [OPTIONS] search WORDS... [--fragments] [--land DE|AT]
    orvelwddx-check [OPTIONS] address PLZ ORT [--street S [--hnr N] | --pof P] [--rewrite 0-3]
    orvelwddx-check [OPTIONS] plz-type PLZ
    orvelwddx-check [OPTIONS] vat VATID
    orvelwddx-check [OPTIONS] vat-confirm VATID --own OWNID [--name N] [--street S] [--zip Z]
                    [--city C] [--company-type T] [--reference R] [--bzst] [--tries N]
                    [--retry-within MS]
    orvelwddx-check journal [--from DATE] [--to DATE] [--vat VATID]
                    [--json | --csv [--excel] | --xlsx FILE]
    orvelwddx-check journal --proof ID --pdf FILE
    orvelwddx-check journal --verify
    orvelwddx-check [OPTIONS] journal --retry-pending [--all]
    orvelwddx-check [OPTIONS] batch FILE.csv|FILE.xlsx|- [--jobs N] [--xlsx OUT.xlsx]

DESCRIPTION
    Runs one check against the checking service and prints every result property the check
    writes, one &quot;Property: value&quot; line each (lists joined by &quot;~&quot;). The checks run in this
    process through the program&apos;s own check objects; with --bus they go to a running
    OrvelWddx server on the session bus (interface OrvelWddx.Checks), which the bus starts
    when it is registered.

    vat asks the European Commission&apos;s VIES service over the internet by default
    (https://ec.europa.eu/taxation_customs/vies/services/checkVatService). The environment
    variable ORVELWDDX_VIES_URL points it elsewhere, e.g. at the local service&apos;s offline
    rules: http://127.0.0.1:8590/taxation_customs/vies/services/checkVatService; --offline
    asks no service at all.

    batch reads a CSV file, an Excel workbook (its first sheet) or standard input for &quot;-&quot;,
    whose header line names the columns iban, blz, kto, bic, card, vat, plz, ort, str, hnr,
    pof in any order; other columns pass through. Each row runs the check its filled columns ask for (vat; card; iban with bic;
    iban; blz with kto; bic; plz, ort with pof; plz, ort, str, hnr; plz, ort, str; plz, ort;
    plz alone for the postal code type); a row whose columns allow checks of several kinds
    (an IBAN and an address, say) gets each, and then the result columns carry the kind in
    front: iban_Result, address_Result, vat_Result, card_Result. With an own_vat column a
    row&apos;s VAT id is confirmed as by vat-confirm (with the columns name, street, zip, city and
    --bzst), recorded in the journal; rows not checked are listed at the end (and written to
    --retry-later FILE) and make the status 3. Confirmations go out paced per member state,
    as VIES asks: fewer at once after MS_MAX_CONCURRENT_REQ, more while answers come; on a
    terminal one line shows the progress. The rows are written to
    standard output in input order as CSV (UTF-8, RFC 4180, the input&apos;s separator), followed
    by the result columns and &quot;Error&quot;; the file is read,
    checked and written piece by piece, so its size does not matter. A file without any UTF-8
    sequence is read as Windows-1252, standard input as UTF-8 (--encoding says otherwise); a
    row with bytes that are not UTF-8, with a NUL byte, or longer than 1 MiB cannot be read.
    Control characters a service sends are shown as U+FFFD. A row that cannot be read is
    reported on standard error with its line number and the run goes on. A row with fewer
    fields than the header is read with the rest empty; fields beyond the header are named in
    &quot;Error&quot;; a row with nothing to check passes through with &quot;nichts zu prüfen&quot; in &quot;Error&quot;.
    Ctrl+C finishes the rows in flight and stops;
    what was written stays a valid CSV file. A progress bar is shown when standard error is a
    terminal, a summary at the end.

    vat-confirm asks for a qualified confirmation of a foreign VAT id: VIES checkVatApprox with
    your own id OWNID (for the consultation number), or with --bzst the eVatR service of the
    Bundeszentralamt für Steuern (OWNID a German id; it confirms no German ids). Name, street,
    postal code and place are compared by the service, each answered with its own code (VIES:
    1 matches, 2 does not, 3 not processed; BZSt: A matches, B does not, C not asked, D not given
    by the member state). A busy or unavailable service is asked again (3 tries within 30 s;
    --tries, --retry-within) and otherwise answered &quot;nicht geprüft&quot;. Every confirmation is
    recorded in the journal $XDG_DATA_HOME/OrvelWddx/journal.sqlite, the proof of the check;
    ORVELWDDX_VIES_URL and ORVELWDDX_BZST_URL name other endpoints.

    A valid id is confirmed qualified only when name and place were asked about (--name,
    --city); without them the simple question is asked, and the line Qualified says false, as
    it does for the BZSt&apos;s evatr-0003 and evatr-2008. Ids may be typed with any separators; GR
    is sent as EL. Your own id is required and its check digits checked; an id of a country
    outside VIES is answered at once, exit 1.

    journal lists the recorded confirmations (DATE as 2026-12-31 or 31.12.2026, UTC); --csv
    as CSV (with --excel for a German Excel), --xlsx FILE as a workbook; --proof writes the
    one-page PDF proof of one record; --verify recomputes the journal&apos;s chain and names the
    first record that does not fit (exit 1). A record whose status or matches contradict its
    stored answer is named on standard error (exit 1). --retry-pending asks again for the
    confirmations left &quot;nicht geprüft&quot; whose next try has come (an hour after, doubling up
    to a day; --all: every one now), never for the BZSt between 23:00 and 05:00 German time;
    each answer is a new record linked to the pending one (exit 3 while one stays pending).

OPTIONS
    --user NAME, --pass PASSWORD
                   the service account sent with every check
    --host HOST[:PORT]
                   the checking service (default 127.0.0.1:8590, the local service)
    --tls 0|1|2    0 plain HTTP, 1 HTTPS with certificate check, 2 HTTPS accepting any
                   certificate (for a test server of your own)
    --timeout MS   how long to wait for an answer
    --proxy HOST:PORT, --proxy-user NAME, --proxy-pass PASSWORD
                   an HTTP proxy
    --json         one JSON object per check instead of the text lines
    --bus          run the checks in the OrvelWddx server on the session bus
    --offline      answer in this process from the checking rules and the data the local
                   service would load (bank directory, postal codes), without any service:
                   the same results, texts and exit statuses; the output adds a line (JSON:
                   a key) &quot;Offline&quot; naming the data. A VAT id gets the verdict of its form
                   and check digits only.
    --jobs N       batch: N checks at a time (default 1; with --offline the number of CPUs)
    --raw          batch: cells as they are; without it a cell a spreadsheet would run as a
                   formula (beginning with =, +, -, @, TAB or CR, numbers excepted) gets a &quot;&apos;&quot;
                   in front
    --retry-later FILE
                   batch: rows whose qualified confirmation could not be made (the services
                   were not available) are written to FILE, with the header, for a later run
    --rewrite 0-3  address: how freely a place name is recognised (default 2, as the window
                   starts): 0 exact names only; 1 also rewritten short names and districts;
                   2 also rewritten long names; 3 as 2, answering the long name
    --encoding utf-8|cp1252
                   batch: how the input&apos;s bytes are read; without it a file holding no UTF-8
                   sequence is read as Windows-1252, standard input as UTF-8
    --xlsx FILE    batch and journal: write an Excel workbook to FILE instead of CSV: every
                   cell text (leading zeros and long numbers stay), a bold frozen header,
                   fitted columns, results green when passed and red when not, a VAT id&apos;s
                   answer in the columns Land, Nummer, Datum, Gültig, Name, Anschrift
    --excel        batch and journal --csv: write for a German Excel: semicolons, UTF-8 with a
                   byte order mark, CR LF (without it the output keeps the input&apos;s separator)
    -h, --help     this text
    --version      the version and the data --offline would use: bank directory (file,
                   sources, validity, counts), each official directory&apos;s edition (valid from,
                   until, fetched at, whether a newer one is available) and postal codes
    --data-dir DIR the one folder of the official directories for --offline and --version
                   (default $ORVELWDDX_DATA_DIR, else $XDG_DATA_HOME/OrvelWddx, then
                   /var/lib/orvelwddx)

    Every setting not given as an option is taken from the environment variables
    ORVELWDDX_USER, ORVELWDDX_PASS, ORVELWDDX_HOST, ORVELWDDX_TLS, ORVELWDDX_TIMEOUT,
    ORVELWDDX_PROXY, ORVELWDDX_PROXY_USER, ORVELWDDX_PROXY_PASS, and then from the settings
    the window saved ($XDG_CONFIG_HOME/OrvelWddx/user.reg), so that a user who set up the
    window needs no options.

EXIT STATUS
    0   the check passed: account, IBAN and card results 0 to 10; a BIC found with a bank name;
        a search that found banks; address results 0, 9 and 12; postal code types 101 to 109;
        VAT id result 0. For batch: every row passed.
    1   the check did not pass (batch: a row did not pass or could not be read)
    2   usage error; vat-confirm: refused without asking (own id missing or wrong)
    3   the service could not be reached (results -200 and -250, VAT id result 2), or the bus
        or the server could not; vat-confirm: not checked
    4   vat-confirm: the journal could not be written, so the confirmation is void
    5   a file named by --pdf, --xlsx or --retry-later could not be written
    130 batch stopped by Ctrl+C

EXAMPLES
    orvelwddx-check iban DE89370400440532013000
    orvelwddx-check --json blz 37040044 0532013000
    orvelwddx-check address 10115 Berlin --street &quot;Invalidenstr.&quot; --hnr 117
    orvelwddx-check --jobs 4 batch customers.csv &gt; checked.csv
    orvelwddx-check --offline batch ibans.csv &gt; checked.csv
</source>
        <translation>ORVELWDDX-CHECK(1)                  OrvelWddx                  ORVELWDDX-CHECK(1)

NAME
    orvelwddx-check - Bankkonten, IBANs, BICs, Karten, Anschriften und USt-IdNrn. prüfen

ÜBERSICHT
    orvelwddx-check [OPTIONEN] iban IBAN
    orvelwddx-check [OPTIONEN] blz BANKLEITZAHL KONTO [--land DE|AT]
    orvelwddx-check [OPTIONEN] iban-bic IBAN BIC
    orvelwddx-check [OPTIONEN] bic BIC
    orvelwddx-check [OPTIONEN] card NUMMER
    orvelwddx-check [OPTIONEN] search WÖRTER... [--fragments] [--land DE|AT]
    orvelwddx-check [OPTIONEN] address PLZ ORT [--street S [--hnr N] | --pof P] [--rewrite 0-3]
    orvelwddx-check [OPTIONEN] plz-type PLZ
    orvelwddx-check [OPTIONEN] vat USTID
    orvelwddx-check [OPTIONEN] vat-confirm USTID --own EIGENE-ID [--name N] [--street S] [--zip Z]
                    [--city C] [--company-type T] [--reference R] [--bzst] [--tries N]
                    [--retry-within MS]
    orvelwddx-check journal [--from DATUM] [--to DATUM] [--vat USTID]
                    [--json | --csv [--excel] | --xlsx DATEI]
    orvelwddx-check journal --proof ID --pdf DATEI
    orvelwddx-check journal --verify
    orvelwddx-check [OPTIONEN] journal --retry-pending [--all]
    orvelwddx-check [OPTIONEN] batch DATEI.csv|DATEI.xlsx|- [--jobs N] [--xlsx AUS.xlsx]

BESCHREIBUNG
    Führt eine Prüfung beim Prüfdienst aus und gibt jede Ergebnis-Eigenschaft aus, die die
    Prüfung schreibt, je eine Zeile „Eigenschaft: Wert“ (Listen mit „~“ verbunden). Die
    Prüfungen laufen in diesem Prozess über die eigenen Prüfobjekte des Programms; mit --bus
    gehen sie an einen laufenden OrvelWddx-Server am Sitzungsbus (Schnittstelle
    OrvelWddx.Checks), den der Bus startet, wenn er registriert ist.

    vat fragt standardmäßig den VIES-Dienst der Europäischen Kommission über das Internet
    (https://ec.europa.eu/taxation_customs/vies/services/checkVatService). Die
    Umgebungsvariable ORVELWDDX_VIES_URL zeigt woandershin, etwa auf die Offline-Regeln des
    lokalen Dienstes: http://127.0.0.1:8590/taxation_customs/vies/services/checkVatService;
    --offline fragt gar keinen Dienst.

    batch liest eine CSV-Datei, eine Excel-Arbeitsmappe (ihr erstes Blatt) oder bei „-“ die
    Standardeingabe, deren Kopfzeile die Spalten iban, blz, kto, bic, card, vat, plz, ort,
    str, hnr, pof in beliebiger Reihenfolge nennt; andere Spalten werden durchgereicht. Jede
    Zeile führt die Prüfung aus, die ihre gefüllten Spalten verlangen (vat; card; iban mit
    bic; iban; blz mit kto; bic; plz, ort mit pof; plz, ort, str, hnr; plz, ort, str; plz,
    ort; plz allein für die Art der Postleitzahl); eine Zeile, deren Spalten Prüfungen
    mehrerer Arten erlauben (etwa eine IBAN und eine Anschrift), bekommt jede, und dann tragen
    die Ergebnisspalten die Art vorn: iban_Result, address_Result, vat_Result, card_Result.
    Mit einer Spalte own_vat wird die USt-IdNr. einer Zeile wie bei vat-confirm bestätigt
    (mit den Spalten name, street, zip, city und --bzst) und im Journal festgehalten; nicht
    geprüfte Zeilen werden am Ende aufgezählt (und in --retry-later DATEI geschrieben) und
    ergeben den Status 3. Bestätigungen gehen je Mitgliedstaat dosiert hinaus, wie VIES es
    verlangt: weniger zugleich nach MS_MAX_CONCURRENT_REQ, mehr, solange Antworten kommen;
    auf einem Terminal zeigt eine Zeile den Fortschritt. Die Zeilen gehen in
    Eingabereihenfolge als CSV (UTF-8, RFC 4180,
    das Trennzeichen der Eingabe) auf die Standardausgabe, gefolgt von den Ergebnisspalten und
    „Error“; die Datei wird Stück für Stück gelesen, geprüft und geschrieben, ihre Größe spielt
    keine Rolle. Eine Datei ohne jede UTF-8-Folge wird als Windows-1252 gelesen, die
    Standardeingabe als UTF-8 (--encoding sagt anderes); eine Zeile mit Bytes, die kein
    UTF-8 sind, mit einem NUL-Byte oder länger als 1 MiB ist nicht lesbar. Steuerzeichen,
    die ein Dienst schickt, erscheinen als U+FFFD. Eine nicht lesbare Zeile wird mit ihrer
    Zeilennummer auf der Standardfehlerausgabe gemeldet, und der Lauf geht weiter. Eine Zeile
    mit weniger Feldern als die Kopfzeile wird mit leerem Rest gelesen; Felder über die
    Kopfzeile hinaus nennt „Error“; eine Zeile ohne etwas zu prüfen läuft mit „nichts zu
    prüfen“ in „Error“ durch. Strg+C lässt die laufenden Zeilen fertig werden und hält an;
    was geschrieben ist, bleibt eine gültige CSV-Datei. Ist die Standardfehlerausgabe ein
    Terminal, zeigt sie einen Fortschrittsbalken, am Ende eine Zusammenfassung.

    vat-confirm bittet um eine qualifizierte Bestätigung einer ausländischen USt-IdNr.: VIES
    checkVatApprox mit Ihrer eigenen Nummer EIGENE-ID (für die Konsultationsnummer), oder mit
    --bzst der eVatR-Dienst des Bundeszentralamts für Steuern (EIGENE-ID eine deutsche Nummer;
    deutsche Nummern bestätigt es nicht). Name, Straße, Postleitzahl und Ort vergleicht der
    Dienst, jeweils mit eigenem Code beantwortet (VIES: 1 stimmt, 2 stimmt nicht, 3 nicht
    bearbeitet; BZSt: A stimmt, B stimmt nicht, C nicht angefragt, D vom Mitgliedstaat nicht
    mitgeteilt). Ein ausgelasteter oder nicht erreichbarer Dienst wird erneut gefragt (3
    Versuche in 30 s; --tries, --retry-within), sonst lautet die Antwort „nicht geprüft“. Jede
    Bestätigung wird im Journal $XDG_DATA_HOME/OrvelWddx/journal.sqlite festgehalten, dem
    Nachweis der Prüfung; ORVELWDDX_VIES_URL und ORVELWDDX_BZST_URL nennen andere Adressen.

    Qualifiziert bestätigt wird eine gültige ID nur, wenn nach Name und Ort gefragt wurde
    (--name, --city); ohne sie wird die einfache Frage gestellt, und die Zeile Qualified sagt
    false, wie beim evatr-0003 und evatr-2008 des BZSt. IDs dürfen mit beliebigen Trennzeichen
    getippt werden; GR wird als EL gesendet. Die eigene ID ist Pflicht, ihre Prüfziffer wird
    geprüft; eine ID eines Landes außerhalb von VIES wird sofort beantwortet, Exit-Status 1.

    journal listet die festgehaltenen Bestätigungen (DATUM wie 31.12.2026 oder 2026-12-31,
    UTC); --csv als CSV (mit --excel für ein deutsches Excel), --xlsx DATEI als
    Arbeitsmappe; --proof schreibt den einseitigen PDF-Nachweis eines Eintrags; --verify
    rechnet die Kette des Journals nach und nennt den ersten Eintrag, der nicht passt
    (Exit-Status 1). Ein Eintrag, dessen Status oder Abgleich seiner gespeicherten Antwort
    widerspricht, wird auf der Standardfehlerausgabe genannt (Exit-Status 1). --retry-pending
    fragt die als „nicht geprüft“ offenen Bestätigungen erneut an, deren nächster Versuch
    gekommen ist (eine Stunde danach, verdoppelt bis zu einem Tag; --all: alle sofort), beim
    BZSt nie zwischen 23:00 und 05:00 Uhr deutscher Zeit; jede Antwort ist ein neuer Eintrag,
    der auf den offenen verweist (Exit-Status 3, solange einer offen bleibt).

OPTIONEN
    --user NAME, --pass PASSWORT
                   das Dienstkonto, das jede Prüfung mitschickt
    --host HOST[:PORT]
                   der Prüfdienst (Standard 127.0.0.1:8590, der lokale Dienst)
    --tls 0|1|2    0 einfaches HTTP, 1 HTTPS mit Zertifikatsprüfung, 2 HTTPS mit jedem
                   Zertifikat (für einen eigenen Testserver)
    --timeout MS   wie lange auf eine Antwort gewartet wird
    --proxy HOST:PORT, --proxy-user NAME, --proxy-pass PASSWORT
                   ein HTTP-Proxy
    --json         ein JSON-Objekt je Prüfung statt der Textzeilen
    --bus          die Prüfungen im OrvelWddx-Server am Sitzungsbus ausführen
    --offline      in diesem Prozess aus den Prüfregeln und den Daten antworten, die der
                   lokale Dienst laden würde (Bankverzeichnis, Postleitzahlen), ohne jeden
                   Dienst: dieselben Ergebnisse, Texte und Exit-Status; die Ausgabe ergänzt
                   eine Zeile (JSON: einen Schlüssel) „Offline“, die die Daten nennt. Eine
                   USt-IdNr. bekommt nur das Urteil über Aufbau und Prüfziffern.
    --jobs N       batch: N Prüfungen zugleich (Standard 1; mit --offline die Zahl der CPUs)
    --raw          batch: Zellen wie sie sind; ohne die Option bekommt eine Zelle, die eine
                   Tabellenkalkulation als Formel ausführen würde (beginnend mit =, +, -, @,
                   TAB oder CR, Zahlen ausgenommen), ein „&apos;“ vorangestellt
    --retry-later DATEI
                   batch: Zeilen, deren qualifizierte Bestätigung nicht möglich war (die
                   Dienste waren nicht erreichbar), gehen mit der Kopfzeile in DATEI, für einen
                   späteren Lauf
    --rewrite 0-3  address: wie frei ein Ortsname erkannt wird (Standard 2, wie das Fenster
                   startet): 0 nur genaue Namen; 1 auch umgeschriebene Kurznamen und
                   Ortsteile; 2 auch umgeschriebene Langnamen; 3 wie 2, mit dem Langnamen als
                   Antwort
    --encoding utf-8|cp1252
                   batch: wie die Bytes der Eingabe gelesen werden; ohne die Option wird eine
                   Datei ohne UTF-8-Folge als Windows-1252 gelesen, die Standardeingabe als UTF-8
    --xlsx DATEI   batch und journal: eine Excel-Arbeitsmappe statt CSV in DATEI schreiben:
                   jede Zelle Text (führende Nullen und lange Zahlen bleiben), eine fette,
                   fixierte Kopfzeile, passende Spaltenbreiten, Ergebnisse grün wenn bestanden
                   und rot wenn nicht, die Antwort zu einer USt-IdNr. in den Spalten Land,
                   Nummer, Datum, Gültig, Name, Anschrift
    --excel        batch und journal --csv: für ein deutsches Excel schreiben: Semikolons,
                   UTF-8 mit Byte-Order-Mark, CR LF (ohne die Option behält die Ausgabe das
                   Trennzeichen der Eingabe)
    -h, --help     dieser Text
    --version      die Version und die Daten, die --offline nutzen würde: Bankverzeichnis
                   (Datei, Quellen, Gültigkeit, Anzahlen), die Ausgabe jedes amtlichen
                   Verzeichnisses (gültig ab, bis, geladen am, ob eine neuere verfügbar ist) und
                   Postleitzahlen
    --data-dir ORDNER  der eine Ordner der amtlichen Verzeichnisse für --offline und --version
                   (Standard $ORVELWDDX_DATA_DIR, sonst $XDG_DATA_HOME/OrvelWddx, dann
                   /var/lib/orvelwddx)

    Jede Einstellung, die nicht als Option angegeben ist, kommt aus den Umgebungsvariablen
    ORVELWDDX_USER, ORVELWDDX_PASS, ORVELWDDX_HOST, ORVELWDDX_TLS, ORVELWDDX_TIMEOUT,
    ORVELWDDX_PROXY, ORVELWDDX_PROXY_USER, ORVELWDDX_PROXY_PASS und dann aus den
    Einstellungen, die das Fenster gespeichert hat ($XDG_CONFIG_HOME/OrvelWddx/user.reg);
    wer das Fenster eingerichtet hat, braucht also keine Optionen.

EXIT-STATUS
    0   die Prüfung hat bestanden: Konto-, IBAN- und Kartenergebnisse 0 bis 10; ein BIC mit
        Banknamen gefunden; eine Suche, die Banken fand; Anschriftenergebnisse 0, 9 und 12;
        Postleitzahlarten 101 bis 109; USt-IdNr.-Ergebnis 0. Bei batch: jede Zeile bestand.
    1   die Prüfung hat nicht bestanden (batch: eine Zeile bestand nicht oder war nicht lesbar)
    2   Aufruffehler; vat-confirm: ohne Anfrage abgewiesen (eigene ID fehlt oder ist falsch)
    3   der Dienst war nicht erreichbar (Ergebnisse -200 und -250, USt-IdNr.-Ergebnis 2),
        oder der Bus oder der Server nicht; vat-confirm: nicht geprüft
    4   vat-confirm: das Journal ließ sich nicht schreiben, die Bestätigung ist daher nichtig
    5   eine mit --pdf, --xlsx oder --retry-later genannte Datei ließ sich nicht schreiben
    130 batch mit Strg+C angehalten

BEISPIELE
    orvelwddx-check iban DE89370400440532013000
    orvelwddx-check --json blz 37040044 0532013000
    orvelwddx-check address 10115 Berlin --street &quot;Invalidenstr.&quot; --hnr 117
    orvelwddx-check --jobs 4 batch kunden.csv &gt; geprueft.csv
    orvelwddx-check --offline batch ibans.csv &gt; geprueft.csv
</translation>
    </message>
    <message>
        <source>%1 expects a number from %2 to %3, not &quot;%4&quot;</source>
        <translation>%1 erwartet eine Zahl von %2 bis %3, nicht „%4“</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 braucht einen Wert</translation>
    </message>
    <message>
        <source>--encoding expects utf-8 or cp1252, not &quot;%1&quot;</source>
        <translation>--encoding erwartet utf-8 oder cp1252, nicht „%1“</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>unbekannte Option %1</translation>
    </message>
    <message>
        <source>%1 takes no value</source>
        <translation>%1 nimmt keinen Wert</translation>
    </message>
    <message>
        <source>%1 expects %2</source>
        <translation>%1 erwartet %2</translation>
    </message>
    <message>
        <source>--land expects DE or AT</source>
        <translation>--land erwartet DE oder AT</translation>
    </message>
    <message>
        <source>--street, --hnr, --pof and --rewrite belong to address</source>
        <translation>--street, --hnr, --pof und --rewrite gehören zu address</translation>
    </message>
    <message>
        <source>--land belongs to blz and search, --fragments to search</source>
        <translation>--land gehört zu blz und search, --fragments zu search</translation>
    </message>
    <message>
        <source>--pof goes without --street and --hnr</source>
        <translation>--pof steht ohne --street und --hnr</translation>
    </message>
    <message>
        <source>--hnr needs --street</source>
        <translation>--hnr braucht --street</translation>
    </message>
    <message>
        <source>unknown command %1</source>
        <translation>unbekannter Befehl %1</translation>
    </message>
    <message>
        <source>cannot read %1</source>
        <translation>%1 lässt sich nicht lesen</translation>
    </message>
    <message>
        <source>vat-confirm takes --own, --name, --street, --zip, --city, --company-type, --reference, --bzst, --tries, --retry-within and the connection options</source>
        <translation>vat-confirm nimmt --own, --name, --street, --zip, --city, --company-type, --reference, --bzst, --tries, --retry-within und die Verbindungsoptionen</translation>
    </message>
    <message>
        <source>journal takes no operands</source>
        <translation>journal nimmt keine Operanden</translation>
    </message>
    <message>
        <source>--proof ID and --pdf FILE go together</source>
        <translation>--proof ID und --pdf DATEI gehören zusammen</translation>
    </message>
    <message>
        <source>--json, --csv or --xlsx, only one</source>
        <translation>--json, --csv oder --xlsx, nur eines davon</translation>
    </message>
    <message>
        <source>--excel goes with --csv</source>
        <translation>--excel gehört zu --csv</translation>
    </message>
    <message>
        <source>--from and --to expect a date as 2026-12-31 or 31.12.2026, not &quot;%1&quot;</source>
        <translation>--from und --to erwarten ein Datum wie 31.12.2026 oder 2026-12-31, nicht „%1“</translation>
    </message>
    <message>
        <source>nothing answers on %1: the local checking service is not running there; start it with ./scripts/run or systemctl --user start orvelwddx-service.socket where it is installed</source>
        <translation>unter %1 antwortet nichts: der lokale Prüfdienst läuft dort nicht; starten Sie ihn mit ./scripts/run oder, wo er installiert ist, mit systemctl --user start orvelwddx-service.socket</translation>
    </message>
    <message>
        <source>%1 speaks plain HTTP, not TLS: check without --tls (or with --tls 0)</source>
        <translation>%1 spricht einfaches HTTP, kein TLS: prüfen Sie ohne --tls (oder mit --tls 0)</translation>
    </message>
    <message>
        <source>no command given</source>
        <translation>kein Befehl angegeben</translation>
    </message>
    <message>
        <source>--own, --name, --zip, --city, --company-type, --reference, --bzst, --tries and --retry-within belong to vat-confirm (--bzst and --retry-later also to batch), --from, --to, --vat, --csv, --proof, --pdf, --verify and --retry-pending to journal</source>
        <translation>--own, --name, --zip, --city, --company-type, --reference, --bzst, --tries und --retry-within gehören zu vat-confirm (--bzst und --retry-later auch zu batch), --from, --to, --vat, --csv, --proof, --pdf, --verify und --retry-pending zu journal</translation>
    </message>
    <message>
        <source>--verify checks the whole journal and takes no other option</source>
        <translation>--verify prüft das ganze Journal und nimmt keine weitere Option</translation>
    </message>
    <message>
        <source>--all belongs to journal --retry-pending</source>
        <translation>--all gehört zu journal --retry-pending</translation>
    </message>
    <message>
        <source>journal --retry-pending takes only --all and the connection options</source>
        <translation>journal --retry-pending nimmt nur --all und die Verbindungsoptionen</translation>
    </message>
    <message>
        <source>--retry-later belongs to batch</source>
        <translation>--retry-later gehört zu batch</translation>
    </message>
    <message>
        <source>--offline and --bus exclude each other</source>
        <translation>--offline und --bus schließen einander aus</translation>
    </message>
    <message>
        <source>a qualified confirmation needs its service; --offline does not go with vat-confirm</source>
        <translation>eine qualifizierte Bestätigung braucht ihren Dienst; --offline passt nicht zu vat-confirm</translation>
    </message>
    <message>
        <source>--xlsx writes a workbook, --excel CSV: one of them</source>
        <translation>--xlsx schreibt eine Arbeitsmappe, --excel CSV: nur eines davon</translation>
    </message>
    <message>
        <source>offline, %1</source>
        <translation>offline, %1</translation>
    </message>
    <message>
        <source>--jobs, --raw, --excel, --encoding and --xlsx belong to batch (--excel and --xlsx also to journal)</source>
        <translation>--jobs, --raw, --excel, --encoding und --xlsx gehören zu batch (--excel und --xlsx auch zu journal)</translation>
    </message>
    <message>
        <source>Try &apos;orvelwddx-check --help&apos;.</source>
        <translation>Mehr mit „orvelwddx-check --help“.</translation>
    </message>
    <message>
        <source>the input has no header line</source>
        <translation>die Eingabe hat keine Kopfzeile</translation>
    </message>
    <message>
        <source>the header line names none of the columns iban, blz, kto, bic, card, vat, plz, ort, str, hnr, pof</source>
        <translation>die Kopfzeile nennt keine der Spalten iban, blz, kto, bic, card, vat, plz, ort, str, hnr, pof</translation>
    </message>
    <message>
        <source>%1 confirmations answered for rows after the last one written are in the journal only</source>
        <translation>%1 Bestätigungen zu Zeilen nach der letzten geschriebenen stehen nur im Journal</translation>
    </message>
    <message>
        <source>refused: %1</source>
        <translation>abgewiesen: %1</translation>
    </message>
    <message>
        <source>not checked, to be tried again later:</source>
        <translation>nicht geprüft, später erneut zu versuchen:</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>%1 lässt sich nicht schreiben</translation>
    </message>
    <message>
        <source>%1 rows for a later run in %2</source>
        <translation>%1 Zeilen für einen späteren Lauf in %2</translation>
    </message>
    <message>
        <source>%1 of %2 rows (interrupted): %3 passed, %4 not passed, %5 unreadable, %6 unreachable, %7 with nothing to check; %8 checks/s</source>
        <translation>%1 von %2 Zeilen (abgebrochen): %3 bestanden, %4 nicht bestanden, %5 nicht lesbar, %6 nicht erreichbar, %7 ohne Prüfung; %8 Prüfungen/s</translation>
    </message>
    <message>
        <source>%1 of %2 rows: %3 passed, %4 not passed, %5 unreadable, %6 unreachable, %7 with nothing to check; %8 checks/s</source>
        <translation>%1 von %2 Zeilen: %3 bestanden, %4 nicht bestanden, %5 nicht lesbar, %6 nicht erreichbar, %7 ohne Prüfung; %8 Prüfungen/s</translation>
    </message>
    <message>
        <source>; input read as Windows-1252</source>
        <translation>; Eingabe als Windows-1252 gelesen</translation>
    </message>
    <message>
        <source>%1 holds the first %2 rows only, as many as a sheet can</source>
        <translation>%1 enthält nur die ersten %2 Zeilen, so viele wie ein Blatt fasst</translation>
    </message>
    <message>
        <source>%1 is larger than 1 GiB unpacked</source>
        <translation>%1 ist entpackt größer als 1 GiB</translation>
    </message>
    <message>
        <source>%1 cannot be unpacked</source>
        <translation>%1 lässt sich nicht entpacken</translation>
    </message>
    <message>
        <source>%1 is not well-formed XML</source>
        <translation>%1 ist kein wohlgeformtes XML</translation>
    </message>
    <message>
        <source>no readable workbook</source>
        <translation>keine lesbare Arbeitsmappe</translation>
    </message>
    <message>
        <source>the workbook has no sheet %1</source>
        <translation>die Arbeitsmappe hat kein Blatt %1</translation>
    </message>
    <message>
        <source>BANKCODE ACCOUNT</source>
        <translation>BANKLEITZAHL KONTO</translation>
    </message>
    <message>
        <source>NUMBER</source>
        <translation>NUMMER</translation>
    </message>
    <message>
        <source>VATID</source>
        <translation>USTID</translation>
    </message>
    <message>
        <source>WORDS</source>
        <translation>WÖRTER</translation>
    </message>
    <message>
        <source>FILE.csv, FILE.xlsx or -</source>
        <translation>DATEI.csv, DATEI.xlsx oder -</translation>
    </message>
</context>
</TS>
