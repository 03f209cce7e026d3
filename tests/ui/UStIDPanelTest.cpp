// The VAT id panel and its information window in the real window, offscreen, against the VIES stand-in.

#include "server/OrvelWddx_TLB.h"
#include "support/ViesServer.h"
#include "support/Widgets.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/OrvelWddxUStIDInfo.h"
#include "ui/UStIDPanel.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

// The Commission's VIES address, and the local service's in its place.
const QString kCommission = u"https://ec.europa.eu/taxation_customs/vies/services/checkVatService"_s;
const QString kLocal = u"http://127.0.0.1:8590/taxation_customs/vies/services/checkVatService"_s;

class UStIDPanelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    std::unique_ptr<test::ViesServer> Vies;

    static QLabel* Verdict(const TFormMain& Window) { return Child<QLabel>(Window, "LabelUStID"); }
    static QPushButton* InfoButton(const TFormMain& Window) { return Child<QPushButton>(Window, "ButtonUStIDInfo"); }
    static void Check(TFormMain& Window, const QString& Id)
    {
        Edit(Window, "LabeledEditUStID")->setText(Id);
        Child<QPushButton>(Window, "ButtonUStID")->click();
    }

private slots:
    void initTestCase()
    {
        Server = test::StandaloneServer();
    }
    void init()
    {
        Home = test::PrivateConfigHome();
        Vies = std::make_unique<test::ViesServer>();
        qputenv("ORVELWDDX_VIES_URL", QByteArray::fromStdString(Vies->Url()));
    }
    void cleanup()
    {
        Vies.reset();
        Home.reset();
    }

    void pieces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("fields by ~") << u"AT~U1~2026-12-10+01:00~True~Muster GmbH~Hauptstraße 1\n1010 Wien"_s
                                     << QStringList{u"AT"_s, u"U1"_s, u"2026-12-10+01:00"_s, u"True"_s,
                                                    u"Muster GmbH"_s, u"Hauptstraße 1"_s, u"1010 Wien"_s};
        QTest::newRow("CR LF is one break") << u"a\r\nb\rc\nd"_s << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
        QTest::newRow("empty pieces dropped") << u"~~a~~\r\n\r\n~b~"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("nothing") << QString() << QStringList();
        QTest::newRow("apostrophe run to the next apostrophe")
            << u"x~O'Brien~Main\nSt' Ltd~y"_s << QStringList{u"x"_s, u"O'Brien~Main\nSt' Ltd"_s, u"y"_s};
        QTest::newRow("apostrophe run to the end") << u"a~O'Brien~12 Main\nDublin"_s
                                                   << QStringList{u"a"_s, u"O'Brien~12 Main\nDublin"_s};
        QTest::newRow("double-quote run, apostrophe inside") << u"\"Bar ~ 'Eck'\"~x"_s
                                                             << QStringList{u"\"Bar ~ 'Eck'\""_s, u"x"_s};
        QTest::newRow("blanks are kept") << u" a ~ "_s << QStringList{u" a "_s, u" "_s};
    }
    void pieces()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pieces);
        QCOMPARE(SplitPieces(text), pieces);
    }

    void verdicts_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");
        const QColor green(0, 128, 0), red(255, 0, 0), darkRed(128, 0, 0);
        QTest::newRow("valid, Commission") << 0 << kCommission << u"Gültig"_s << green;
        QTest::newRow("invalid, Commission") << 1 << kCommission << u"Ungültig"_s << red;
        QTest::newRow("error, Commission") << 2 << kCommission << u"Fehler"_s << darkRed;
        QTest::newRow("other result") << 3 << kCommission << u"Interner Fehler"_s << darkRed;
        QTest::newRow("negative result") << -1 << kLocal << u"Interner Fehler"_s << darkRed;
        QTest::newRow("valid, local service")
            << 0 << kLocal << u"Gültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s << green;
        QTest::newRow("invalid, local service")
            << 1 << kLocal << u"Ungültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s << red;
        QTest::newRow("error, local service") << 2 << kLocal << u"Fehler"_s << darkRed;
        QTest::newRow("Commission's host in capitals")
            << 0 << u"HTTPS://EC.EUROPA.EU/taxation_customs/vies/services/checkVatService"_s << u"Gültig"_s << green;
        QTest::newRow("a host that only begins like the Commission's")
            << 0 << u"https://ec.europa.eu.example.org/checkVatService"_s
            << u"Gültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s << green;
        QTest::newRow("the Commission's name in the path only")
            << 1 << u"http://127.0.0.1:1/ec.europa.eu/checkVatService"_s
            << u"Ungültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s << red;
    }
    void verdicts()
    {
        QFETCH(int, result);
        QFETCH(QString, url);
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        QCOMPARE(VerdictOf(result, url, QString()), (TVerdict{text, colour, QString()}));
    }

    // What the check's text adds to the verdict: only a reason for an invalid id, never VIES's answer.
    void verdictReasons_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("resulttext");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        const QString notMember =
            u"kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten und Nordirlands (XI)"_s;
        QTest::newRow("outside VIES, Commission")
            << 1 << kCommission << notMember << u"Ungültig – kein EU-Mitgliedstaat"_s << notMember;
        QTest::newRow("outside VIES, local service")
            << 1 << kLocal << notMember << u"Ungültig – kein EU-Mitgliedstaat"_s << notMember;
        QTest::newRow("VIES says invalid")
            << 1 << kCommission << u"AT~U00000000~2026-12-11+01:00~False~---~---"_s << u"Ungültig"_s << QString();
        QTest::newRow("VIES says valid")
            << 0 << kCommission << u"AT~U12345678~2026-12-11+01:00~True~Muster GmbH~Wien"_s << u"Gültig"_s
            << QString();
        QTest::newRow("service error") << 2 << kCommission << u"INVALID_INPUT"_s << u"Fehler"_s << QString();
    }
    void verdictReasons()
    {
        QFETCH(int, result);
        QFETCH(QString, url);
        QFETCH(QString, resulttext);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        const TVerdict verdict = VerdictOf(result, url, resulttext);
        QCOMPARE(verdict.Text, text);
        QCOMPARE(verdict.ToolTip, toolTip);
    }

    void infoLines()
    {
        QCOMPARE(InfoLines(u"DE~1~d~True"_s), QStringList());
        QCOMPARE(InfoLines(u"DE~1~d~True~N"_s), QStringList{u"N"_s});
    }

    void controls()
    {
        TFormMain window;
        test::CheckLabel(window, "LabelUStIDCaption", u"USt-&ID:"_s, "LabeledEditUStID");
        QCOMPARE(Edit(window, "LabeledEditUStID")->toolTip(),
                 u"Umsatzsteueridentifikationsnummer (mit Länderkennung am Anfang) eingeben, z.B. DE123456789"_s);
        QCOMPARE(Child<QPushButton>(window, "ButtonUStID")->text(), u"ID prüfen"_s);
        QCOMPARE(InfoButton(window)->text(), u"I&nfo"_s);
        QVERIFY(!InfoButton(window)->isVisibleTo(&window));
        QVERIFY(!Verdict(window)->isVisibleTo(&window));
        QVERIFY(Verdict(window)->font().bold());
        QCOMPARE(Verdict(window)->font().pixelSize(), 16);
        // Typed letters become capitals.
        QTest::keyClicks(Edit(window, "LabeledEditUStID"), u"at u1"_s);
        QCOMPARE(Edit(window, "LabeledEditUStID")->text(), u"AT U1"_s);

        TFormUStIDInfo& info = window.PanelUStID().FormUStIDInfo();
        QCOMPARE(info.windowTitle(), u"USt-ID-Info"_s);
        QCOMPARE(Child<QPushButton>(info, "ButtonSchliessen")->text(), u"&Schließen"_s);
        QVERIFY(Child<QPlainTextEdit>(info, "MemoInfo")->isReadOnly());
        QCOMPARE(Child<QLabel>(info, "LabelID")->font().pixelSize(), 24);
    }

    void check()
    {
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Valid with name and two address lines: the information window gets the id as typed and three lines.
        // The stand-in is no server of the Commission: the verdict says where it came from.
        Check(window, u"AT U12345678"_s);
        QCOMPARE(Verdict(window)->text(), u"Gültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s);
        QCOMPARE(Verdict(window)->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QVERIFY(Verdict(window)->isVisible());
        QVERIFY(InfoButton(window)->isVisible());
        QCOMPARE(Vies->Calls().back().VatNumber, std::string("U12345678"));
        TFormUStIDInfo& info = window.PanelUStID().FormUStIDInfo();
        QCOMPARE(info.Id(), u"AT U12345678"_s);
        QCOMPARE(info.Lines(), (QStringList{u"Muster Handels GmbH"_s, u"Hauptstraße 1"_s, u"1010 Wien"_s}));
        QCOMPARE(window.focusWidget(), Edit(window, "LabeledEditUStID"));
        QCOMPARE(Edit(window, "LabeledEditUStID")->selectedText(), u"AT U12345678"_s);
        QVERIFY(test::WhileModal<TFormUStIDInfo>([&] { InfoButton(window)->click(); }, [&](TFormUStIDInfo& shown) {
            QCOMPARE(shown.focusWidget(), Child<QPushButton>(shown, "ButtonSchliessen"));
            test::SaveScreenshot(shown, u"ustid-info.png"_s);
            QTest::keyClick(&shown, Qt::Key_Escape);
            QVERIFY(!shown.isVisible());
        }));

        // Typing hides the verdict and the info button at once.
        QTest::keyClick(Edit(window, "LabeledEditUStID"), Qt::Key_End);
        QTest::keyClick(Edit(window, "LabeledEditUStID"), Qt::Key_Backspace);
        QVERIFY(!InfoButton(window)->isVisible());
        QVERIFY(!Verdict(window)->isVisible());

        // Invalid: red, the id stays, selected.
        Check(window, u"ATU00000000"_s);
        QCOMPARE(Verdict(window)->text(), u"Ungültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s);
        QVERIFY(Verdict(window)->contentsRect().width() >=
                Verdict(window)->fontMetrics().horizontalAdvance(Verdict(window)->text()));
        test::SaveScreenshot(window, u"ustid-verdict.png"_s);
        QCOMPARE(Verdict(window)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(Edit(window, "LabeledEditUStID")->text(), u"ATU00000000"_s);
        QCOMPARE(Edit(window, "LabeledEditUStID")->selectedText(), u"ATU00000000"_s);

        // Outside VIES: the reason in the verdict row and whole in its tooltip, the id stays.
        Check(window, u"GB123456789"_s);
        QCOMPARE(Verdict(window)->text(), u"Ungültig – kein EU-Mitgliedstaat"_s);
        QCOMPARE(Verdict(window)->toolTip(),
                 u"kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten und Nordirlands (XI)"_s);
        QVERIFY(Verdict(window)->contentsRect().width() >=
                Verdict(window)->fontMetrics().horizontalAdvance(Verdict(window)->text()));
        QCOMPARE(Edit(window, "LabeledEditUStID")->text(), u"GB123456789"_s);
        test::SaveScreenshot(window, u"ustid-outside-vies.png"_s);

        // A service error: the message replaces the id, selected, and the info button goes.
        Check(window, u"AT U12345678"_s);
        QVERIFY(InfoButton(window)->isVisible());
        Check(window, u"1X123"_s); // no country code: VIES refuses it
        QCOMPARE(Verdict(window)->text(), u"Fehler"_s);
        QCOMPARE(Verdict(window)->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        QVERIFY(Verdict(window)->isVisible());
        QVERIFY(!InfoButton(window)->isVisible());
        QCOMPARE(Edit(window, "LabeledEditUStID")->text(), u"INVALID_INPUT"_s);
        QCOMPARE(Edit(window, "LabeledEditUStID")->selectedText(), u"INVALID_INPUT"_s);
        // A connection error's message stays as it came, not in capitals.
        Check(window, u"AT"_s + QString::fromLatin1(test::kHttp500));
        QCOMPARE(Verdict(window)->text(), u"Fehler"_s);
        QCOMPARE(Edit(window, "LabeledEditUStID")->text(), QString::fromStdU16String(window.UStIDObject->Resulttext()));
        QVERIFY(Edit(window, "LabeledEditUStID")->text() != Edit(window, "LabeledEditUStID")->text().toUpper());
        // The information window keeps the last details.
        QCOMPARE(info.Id(), u"AT U12345678"_s);
    }

    void noDetails()
    {
        // A valid id that comes with the first four fields only offers no details.
        QCOMPARE(InfoLines(u"DE~123456789~2026-12-10+01:00~True"_s), QStringList());
        QCOMPARE(InfoLines(u"DE~123456789~2026-12-10+01:00~True~~\r\n"_s), QStringList());
    }
};

} // namespace orvel

QTEST_MAIN(orvel::UStIDPanelTest)
#include "UStIDPanelTest.moc"
