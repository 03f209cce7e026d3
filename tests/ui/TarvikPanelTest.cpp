// The account check and bank search panels in the real window, offscreen, against the WDDX fixture server and the
// web-services stand-in.

#include "platform/Codepage.h"
#include "server/OrvelWddx_TLB.h"
#include "support/FixtureServer.h"
#include "support/Widgets.h"
#include "support/WebServiceServer.h"
#include "support/Wddx.h"
#include "ui/FormIbanBic.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/OrvelWddxSuchergebnis.h"
#include "ui/TarvikPanel.h"
#include "ui/TarvikSearchPanel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;
using test::SaveScreenshot;
using test::WhileModal;

namespace {

// What a service answers, in the terms of both ways (UTF-8 texts).
struct Answer
{
    int Result = 0;
    QString Text, Bank, BicName, NewBlz, Iban, Bic;
    int Sct = 0, Sdd = 0, B2b = 0;
};

// What the panel shows; an empty colour is not compared (an empty field).
struct Shown
{
    QString Result;
    QColor ResultColour;
    QString Resulttext;
    QColor ResulttextColour;
    QString BankName, Hinweis;
    bool Button = false;
};

} // namespace
} // namespace orvel

Q_DECLARE_METATYPE(orvel::Answer)
Q_DECLARE_METATYPE(orvel::Shown)

namespace orvel {
namespace {

std::string W1252(const QString& Text)
{
    return Narrow(Text.toStdU16String());
}

// As the service writes a text into its packet.
std::string WddxText(const QString& Text)
{
    return W1252(QString(Text).toHtmlEscaped());
}

std::string Utf8(const QString& Text)
{
    return Text.toStdString();
}

// The WDDX reply of the object's check with these values: every variable any check reads.
std::string WddxReply(const Answer& A)
{
    return test::WddxPacket({{"result", std::to_string(A.Result)},
                             {"resulttext", WddxText(A.Text)},
                             {"bankname", WddxText(A.Bank)},
                             {"newblz", WddxText(A.NewBlz)},
                             {"iban", WddxText(A.Iban)},
                             {"bic", WddxText(A.Bic)},
                             {"bicname", WddxText(A.BicName)},
                             {"bicsct", std::to_string(A.Sct)},
                             {"bicsdd", std::to_string(A.Sdd)},
                             {"bicb2b", std::to_string(A.B2b)}});
}

// The web service's answer to the operation of an input mode with these values.
std::pair<std::string, std::vector<test::WebValue>> WebReply(int Mode, const Answer& A)
{
    using test::WebInt;
    using test::WebText;
    switch (Mode) {
    case kModeBlzKto:
        return {"TestBlzKto",
                {WebInt("return", A.Result), WebText("ResultText", Utf8(A.Text)), WebText("BankName", Utf8(A.Bank)),
                 WebText("NewBlz", Utf8(A.NewBlz)), WebText("Iban", Utf8(A.Iban)), WebText("Bic", Utf8(A.Bic))}};
    case kModeIban:
        return {"TestIban",
                {WebInt("return", A.Result), WebText("ResultText", Utf8(A.Text)), WebText("BankName", Utf8(A.Bank)),
                 WebText("NewBlz", Utf8(A.NewBlz)), WebText("IbanOut", Utf8(A.Iban)), WebText("Bic", Utf8(A.Bic))}};
    case kModeIbanBic:
        return {"TestIbanBic",
                {WebInt("return", A.Result), WebText("ResultText", Utf8(A.Text)),
                 WebText("BankNameIban", Utf8(A.Bank)), WebText("BankNameBic", Utf8(A.BicName)),
                 WebText("NewBlz", Utf8(A.NewBlz)), WebText("IbanOut", Utf8(A.Iban)), WebText("BicOut", Utf8(A.Bic)),
                 WebInt("ServiceSCT", A.Sct), WebInt("ServiceSDD", A.Sdd), WebInt("ServiceB2B", A.B2b)}};
    case kModeBic:
        return {"TestBic",
                {WebText("BankName", Utf8(A.BicName)), WebInt("ServiceSCT", A.Sct), WebInt("ServiceSDD", A.Sdd),
                 WebInt("ServiceB2B", A.B2b)}};
    default:
        return {"TestCc", {WebInt("return", A.Result), WebText("ResultText", Utf8(A.Text))}};
    }
}

const QString kIban = u"DE89370400440532013000"_s;

} // namespace

class TarvikPanelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    std::unique_ptr<test::FixtureServer> Wddx;
    std::unique_ptr<test::WebServiceServer> Web;
    std::string WddxAnswer = test::WddxPacket({{"result", "0"}});

    static QColor TextColour(const QWidget& Window, const char* Name)
    {
        return Edit(Window, Name)->palette().color(QPalette::Text);
    }

    // A window whose objects use the fixture server and whose web services use the stand-in.
    std::unique_ptr<TFormMain> Window(bool DoWeb = false)
    {
        auto window = std::make_unique<TFormMain>();
        window->HostWeb = Web->Host();
        window->DoWeb = DoWeb;
        return window;
    }
    static void Activate(TFormMain& Window)
    {
        Window.show();
        QApplication::setActiveWindow(&Window);
        QVERIFY(QTest::qWaitForWindowActive(&Window));
    }
    static void Inputs(TFormMain& Window, const QString& Blz, const QString& Kto)
    {
        Edit(Window, "EditBlz")->setText(Blz);
        Edit(Window, "EditKto")->setText(Kto);
    }
    static void Click(TFormMain& Window, const char* Name) { Child<QPushButton>(Window, Name)->click(); }

private slots:
    void initTestCase()
    {
        Server = test::StandaloneServer();
    }

    void init()
    {
        Home = test::PrivateConfigHome();
        Wddx = std::make_unique<test::FixtureServer>([this](const test::Request&) { return test::Reply::Ok(WddxAnswer); });
        Web = std::make_unique<test::WebServiceServer>();
        qputenv("ORVELWDDX_HOST", QByteArray::fromStdString(Wddx->HostPort()));
        WddxAnswer = test::WddxPacket({{"result", "0"}});
    }
    void cleanup()
    {
        Wddx.reset();
        Web.reset();
        Home.reset();
    }

    void inputMode_data()
    {
        QTest::addColumn<QString>("blz");
        QTest::addColumn<QString>("kto");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("announced");
        QTest::newRow("both empty") << QString() << QString() << kModeNone
                                    << u"Unverträgliche Eingaben in BLZ und Konto"_s;
        QTest::newRow("bank code, no account") << u"37040044"_s << QString() << kModeNone
                                               << u"Unverträgliche Eingaben in BLZ und Konto"_s;
        QTest::newRow("BIC alone") << u"COBADEFFXXX"_s << QString() << kModeBic << u"Mit \"Start\" wird BIC geprüft"_s;
        QTest::newRow("digits alone are a card") << QString() << u"4111111111111111"_s << kModeCc
                                                 << u"Mit \"Start\" wird Kreditkarte geprüft"_s;
        QTest::newRow("bank code and account") << u"37040044"_s << u"532013000"_s << kModeBlzKto
                                               << u"Mit \"Start\" wird BLZ/Konto geprüft"_s;
        QTest::newRow("BIC and account") << u"COBADEFFXXX"_s << u"532013000"_s << kModeNone
                                         << u"Unverträgliche Eingaben in BLZ und Konto"_s;
        QTest::newRow("IBAN alone") << QString() << kIban << kModeIban << u"Mit \"Start\" wird IBAN geprüft"_s;
        QTest::newRow("bank code and IBAN") << u"37040044"_s << kIban << kModeNone
                                            << u"Unverträgliche Eingaben in BLZ und Konto"_s;
        QTest::newRow("IBAN and BIC") << u"COBADEFF"_s << kIban << kModeIbanBic
                                      << u"Mit \"Start\" wird IBAN/BIC geprüft"_s;
    }
    void inputMode()
    {
        QFETCH(QString, blz);
        QFETCH(QString, kto);
        QFETCH(int, mode);
        QFETCH(QString, announced);
        auto window = Window();
        Inputs(*window, blz, kto);
        QCOMPARE(window->PanelTarvik().InputMode(), mode);
        auto* corner = Child<QTabWidget>(*window, "PageControlTarvik")->cornerWidget();
        QCOMPARE(corner->objectName(), u"PanelStart"_s);
        QCOMPARE(qobject_cast<QLabel*>(corner)->text(), announced);
        QCOMPARE(Child<QPushButton>(*window, "ButtonTarvik")->isEnabled(), mode != kModeNone);
        // The country only counts for a bank code with an account; a disabled group keeps its selection.
        Child<QRadioButton>(*window, "RadioButtonAT")->setChecked(true);
        QCOMPARE(Child<QGroupBox>(*window, "RadioGroupLand")->isEnabled(), mode == kModeBlzKto);
        QCOMPARE(window->LandText(), u"AT"_s);
    }

    void filter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("filtered");
        QTest::addColumn<int>("filteredCaret");
        QTest::newRow("nothing to drop") << u"DE89"_s << 2 << u"DE89"_s << 2;
        QTest::newRow("space typed in the middle") << u"37 04"_s << 3 << u"3704"_s << 2;
        QTest::newRow("hyphen typed at the end") << u"3704-"_s << 5 << u"3704"_s << 4;
        QTest::newRow("small letters become capitals") << u"de89"_s << 4 << u"DE89"_s << 4;
        QTest::newRow("umlaut and eszett dropped") << u"ÄBß1"_s << 4 << u"B1"_s << 2;
        QTest::newRow("paste in the middle") << u"DE8 37 04X"_s << 7 << u"DE83704X"_s << 5;
    }
    void filter()
    {
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(QString, filtered);
        QFETCH(int, filteredCaret);
        const TFilteredText result = FilterUpperAlnum(text, caret);
        QCOMPARE(result.Text, filtered);
        QCOMPARE(result.Caret, filteredCaret);
    }

    void controls()
    {
        auto window = Window();
        QCOMPARE(Edit(*window, "EditBlz")->text(), u"89999999"_s);
        QCOMPARE(Edit(*window, "EditKto")->text(), u"1234"_s);
        QCOMPARE(Edit(*window, "EditBlz")->maxLength(), 11);
        QCOMPARE(Edit(*window, "EditKto")->maxLength(), 31);
        QCOMPARE(window->PanelTarvik().InputMode(), kModeBlzKto);
        QCOMPARE(window->PanelTarvik().BlzKind(), kKindDigits);
        QCOMPARE(window->PanelTarvik().KtoKind(), kKindDigits);
        QVERIFY(!Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisibleTo(window.get()));
        QVERIFY(Child<QPushButton>(*window, "ButtonTarvik")->isDefault());

        const std::vector<std::tuple<const char*, QString, const char*>> labels = {
            {"LabelBlz", u"&Bankleitzahl/BIC:"_s, "EditBlz"},
            {"LabelKto", u"&Kontonr./IBAN:"_s, "EditKto"},
            {"LabelTarvikResult", u"Ergebnis\nals Zahl:"_s, "EditTarvikResult"},
            {"LabelTarvikResulttext", u"Ergebnis\nals Text:"_s, "EditTarvikResulttext"},
            {"LabelTarvikBankName", u"ggf. Bankname:"_s, "EditTarvikBankName"},
            {"LabelTarvikHinweis", u"ggf. Hinweis:"_s, "EditTarvikHinweis"},
            {"LabelTarvikSearch", u"Such&begriff(e):"_s, "EditTarvikSearch"},
        };
        for (const auto& [name, caption, buddy] : labels) {
            test::CheckLabel(*window, name, caption, buddy);
            if (QTest::currentTestFailed())
                return;
        }
        for (const char* name : {"EditTarvikResult", "EditTarvikResulttext", "EditTarvikBankName", "EditTarvikHinweis"}) {
            QVERIFY(Edit(*window, name)->isReadOnly());
            QVERIFY(!(Edit(*window, name)->focusPolicy() & Qt::TabFocus));
        }
        QVERIFY(Edit(*window, "EditTarvikResult")->font().bold());
        QCOMPARE(Edit(*window, "EditTarvikResult")->font().pixelSize(), 16);
        QVERIFY(!Edit(*window, "EditTarvikResulttext")->font().bold());
        QCOMPARE(Edit(*window, "EditTarvikResulttext")->font().pixelSize(), 16);

        const std::vector<std::pair<const char*, QString>> captions = {
            {"ButtonTarvik", u"&Start"_s},
            {"ButtonIbanBicAnzeigen", u"IBAN && BIC an&zeigen"_s},
            {"ButtonTarvikSearch", u"&Suchen!"_s},
            {"CheckBoxTarvikFragments", u"&Auch nach Fragmenten suchen (z.B. \"Dresd\" oder \"Frankf\")"_s},
        };
        for (const auto& [name, caption] : captions)
            QCOMPARE(Child<QAbstractButton>(*window, name)->text(), caption);
        QCOMPARE(Child<QLabel>(*window, "LabelTarvikCc")->text(),
                 u"(Bei leerem Feld \"Bankleitzahl\" kann bei \"Kontonummer\" eine Kreditkartennummer eingegeben und "
                 "geprüft werden.)"_s);
        QCOMPARE(Child<QLabel>(*window, "LabelTarvikSearchHinweis")->text(),
                 u"(Bitte ggf. mehrere Suchbegriffe durch Zwischenräume trennen. Es findet automatisch eine "
                 "UND-Verknüpfung statt.)"_s);
        QVERIFY(!Child<QCheckBox>(*window, "CheckBoxTarvikFragments")->isChecked());

        TFormIbanBicAnzeigen& ibanBic = window->PanelTarvik().FormIbanBic();
        QCOMPARE(ibanBic.windowTitle(), u"IBAN & BIC"_s);
        QCOMPARE(ibanBic.size(), QSize(392, 104));
        QVERIFY(Edit(ibanBic, "LabeledEditIban")->isReadOnly() && Edit(ibanBic, "LabeledEditBic")->isReadOnly());
        QCOMPARE(Child<QLabel>(ibanBic, "LabelIban")->text(), u"&IBAN:"_s);
        QCOMPARE(Child<QLabel>(ibanBic, "LabelBic")->text(), u"&BIC:"_s);
        TFormSearchResult& result = window->PanelTarvikSearch().FormSearchResult();
        QCOMPARE(result.windowTitle(), u"Suchergebnis"_s);
        QVERIFY(Child<QPlainTextEdit>(result, "MemoSearchResult")->isReadOnly());
    }

    void typingAndPasting()
    {
        auto window = Window();
        Activate(*window);
        QLineEdit* kto = Edit(*window, "EditKto");
        kto->setFocus();
        kto->setCursorPosition(2);
        QTest::keyClick(kto, Qt::Key_Space);
        QCOMPARE(kto->text(), u"1234"_s);
        QCOMPARE(kto->cursorPosition(), 2);
        QTest::keyClick(kto, Qt::Key_Minus);
        QCOMPARE(kto->text(), u"1234"_s);
        QCOMPARE(kto->cursorPosition(), 2);
        QTest::keyClicks(kto, u"x"_s);
        QCOMPARE(kto->text(), u"12X34"_s);
        QCOMPARE(kto->cursorPosition(), 3);

        kto->clear();
        QApplication::clipboard()->setText(u"DE89 3704 0044 0532 0130 00"_s);
        QTest::keyClick(kto, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(kto->text(), kIban);
        QCOMPARE(window->PanelTarvik().InputMode(), kModeNone); // with the bank code still there

        QLineEdit* blz = Edit(*window, "EditBlz");
        blz->selectAll();
        QTest::keyClicks(blz, u"coba-deff"_s);
        QCOMPARE(blz->text(), u"COBADEFF"_s);
        QCOMPARE(window->PanelTarvik().InputMode(), kModeIbanBic);
        blz->selectAll();
        QTest::keyClick(blz, Qt::Key_Delete);
        QCOMPARE(window->PanelTarvik().InputMode(), kModeIban);
        QVERIFY(!Child<QGroupBox>(*window, "RadioGroupLand")->isEnabled());
    }

    void display_data()
    {
        QTest::addColumn<bool>("web");
        QTest::addColumn<QString>("blz");
        QTest::addColumn<QString>("kto");
        QTest::addColumn<int>("mode");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<Shown>("shown");

        const QString bic = u"COBADEFFXXX"_s;
        struct Row
        {
            const char* Label;
            QString Blz, Kto;
            int Mode;
            Answer A;
            Shown S;
        };
        const std::vector<Row> rows = {
            {"account valid", u"37040044"_s, u"532013000"_s, kModeBlzKto,
             {0, u"Konto gültig"_s, u"Commerzbank"_s, {}, {}, kIban, bic},
             {u"0"_s, kGreen, u"Konto gültig"_s, kGreen, u"Commerzbank"_s, {}, true}},
            {"10 is still green", u"37040044"_s, u"532013000"_s, kModeBlzKto,
             {10, u"Konto vermutlich gültig"_s, u"Commerzbank"_s, {}, {}, {}, bic},
             {u"10"_s, kGreen, u"Konto vermutlich gültig"_s, kGreen, u"Commerzbank"_s, {}, true}},
            {"11 is red and hides the button", u"37040044"_s, u"532013000"_s, kModeBlzKto,
             {11, u"Prüfung nicht möglich"_s, u"Commerzbank"_s, {}, {}, kIban, bic},
             {u"11"_s, kRed, u"Prüfung nicht möglich"_s, kRed, u"Commerzbank"_s, {}, false}},
            {"-200 is red and hides the button", u"37040044"_s, u"532013000"_s, kModeBlzKto,
             {-200, u"Verbindung abgelehnt"_s, {}, {}, {}, kIban, {}},
             {u"-200"_s, kRed, u"Verbindung abgelehnt"_s, kRed, {}, {}, false}},
            {"recently invalid, successor unknown", u"10000001"_s, u"1234"_s, kModeBlzKto,
             {-1, u"BLZ ungültig"_s, u"Alte Bank"_s, {}, u"00000000"_s, {}, {}},
             {u"-1"_s, kRed, u"BLZ ungültig"_s, kRed, u"Alte Bank"_s,
              u"BLZ wurde kürzlich ungültig; Nachfolge-BLZ nicht bekannt"_s, false}},
            {"recently invalid with successor", u"10000001"_s, u"1234"_s, kModeBlzKto,
             {-1, u"BLZ ungültig"_s, {}, {}, u"10000002"_s, {}, {}},
             {u"-1"_s, kRed, u"BLZ ungültig"_s, kRed, {}, u"BLZ wurde kürzlich ungültig; Nachfolge-BLZ=10000002"_s,
              false}},
            {"soon invalid with successor", u"70150000"_s, u"594937"_s, kModeBlzKto,
             {0, u"gültig"_s, u"Stadtsparkasse München"_s, {}, u"70150001"_s, u"DE02701500000000594937"_s, {}},
             {u"0"_s, kGreen, u"gültig"_s, kGreen, u"Stadtsparkasse München"_s,
              u"BLZ wird in Kürze ungültig; Nachfolge-BLZ=70150001"_s, true}},
            {"soon invalid, successor unknown", u"70150000"_s, u"594937"_s, kModeBlzKto,
             {0, u"gültig"_s, {}, {}, u"00000000"_s, {}, {}},
             {u"0"_s, kGreen, u"gültig"_s, kGreen, {}, u"BLZ wird in Kürze ungültig; Nachfolge-BLZ nicht bekannt"_s,
              false}},
            {"IBAN", {}, kIban, kModeIban,
             {1, u"IBAN gültig"_s, u"Commerzbank"_s, {}, {}, kIban, bic},
             {u"1"_s, kGreen, u"IBAN gültig"_s, kGreen, u"Commerzbank"_s, {}, true}},
            {"IBAN and BIC, both known", bic, kIban, kModeIbanBic,
             {0, u"passt"_s, u"Commerzbank"_s, u"Commerzbank Frankfurt"_s, {}, kIban, bic, 1, 1, 0},
             {u"0"_s, kGreen, u"passt"_s, kGreen, u"aus IBAN: Commerzbank / aus BIC: Commerzbank Frankfurt"_s,
              u"SCT=1 SDD=1 B2B=0"_s, true}},
            {"IBAN and BIC, BIC unknown", bic, kIban, kModeIbanBic,
             {-3, u"BIC passt nicht"_s, u"Commerzbank"_s, {}, {}, kIban, {}, 0, 0, 0},
             {u"-3"_s, kRed, u"BIC passt nicht"_s, kRed, u"aus IBAN: Commerzbank, BIC nicht gefunden"_s, {}, false}},
            {"IBAN and BIC, only the BIC known", bic, kIban, kModeIbanBic,
             {2, u"IBAN unbekannt"_s, {}, u"Deutsche Bank"_s, {}, {}, {}, 1, 0, 1},
             {u"2"_s, kGreen, u"IBAN unbekannt"_s, kGreen, u"aus BIC: Deutsche Bank"_s, u"SCT=1 SDD=0 B2B=1"_s,
              false}},
            {"IBAN and BIC, neither known", bic, kIban, kModeIbanBic,
             {2, u"unbekannt"_s, {}, {}, {}, {}, {}, 0, 0, 0},
             {u"2"_s, kGreen, u"unbekannt"_s, kGreen, u"BIC nicht gefunden"_s, {}, false}},
            {"IBAN and BIC, successor before services", bic, kIban, kModeIbanBic,
             {0, u"passt"_s, u"Commerzbank"_s, u"Commerzbank"_s, u"37040045"_s, kIban, bic, 1, 1, 1},
             {u"0"_s, kGreen, u"passt"_s, kGreen, u"aus IBAN: Commerzbank / aus BIC: Commerzbank"_s,
              u"BLZ wird in Kürze ungültig; Nachfolge-BLZ=37040045"_s, true}},
            {"BIC found", bic, {}, kModeBic,
             {0, {}, {}, u"Crédit Agricole <Île-de-France> & Co"_s, {}, {}, {}, 1, 0, 1},
             {{}, {}, u"BIC im Bankverzeichnis gefunden"_s, kGreen, u"Crédit Agricole <Île-de-France> & Co"_s,
              u"SCT=1 SDD=0 B2B=1"_s, false}},
            {"BIC not found", bic, {}, kModeBic,
             {0, {}, {}, {}, {}, {}, {}, 0, 0, 0},
             {{}, {}, u"BIC nicht im Bankverzeichnis"_s, kRed, {}, {}, false}},
            {"BIC request failed", bic, {}, kModeBic,
             {0, {}, {}, u"*Zeitüberschreitung"_s, {}, {}, {}, 0, 0, 0},
             {{}, {}, u"Zeitüberschreitung"_s, kMaroon, {}, {}, false}},
            {"card", {}, u"4111111111111111"_s, kModeCc,
             {0, u"Kreditkarte gültig"_s, u"Visa Bank"_s, {}, {}, {}, {}},
             {u"0"_s, kGreen, u"Kreditkarte gültig"_s, kGreen, {}, {}, false}},
        };
        for (const bool web : {false, true})
            for (const Row& row : rows)
                QTest::addRow("%s, %s", web ? "Web" : "WDDX", row.Label)
                    << web << row.Blz << row.Kto << row.Mode << row.A << row.S;
    }
    void display()
    {
        QFETCH(bool, web);
        QFETCH(QString, blz);
        QFETCH(QString, kto);
        QFETCH(int, mode);
        QFETCH(Answer, answer);
        QFETCH(Shown, shown);
        WddxAnswer = WddxReply(answer);
        const auto [operation, values] = WebReply(mode, answer);
        Web->SetAnswer(operation, values);

        auto window = Window(web);
        Inputs(*window, blz, kto);
        QCOMPARE(window->PanelTarvik().InputMode(), mode);
        // What an earlier check left in the hint field and the IBAN & BIC window is replaced.
        Edit(*window, "EditTarvikHinweis")->setText(u"alt"_s);
        window->PanelTarvik().FormIbanBic().SetValues(u"alt"_s, u"alt"_s);
        Click(*window, "ButtonTarvik");

        QCOMPARE(Wddx->Requests().size(), size_t(web ? 0 : 1));
        QCOMPARE(Web->Calls().size(), size_t(web ? 1 : 0));
        QCOMPARE(Edit(*window, "EditTarvikResult")->text(), shown.Result);
        if (shown.ResultColour.isValid())
            QCOMPARE(TextColour(*window, "EditTarvikResult"), shown.ResultColour);
        QCOMPARE(Edit(*window, "EditTarvikResulttext")->text(), shown.Resulttext);
        QCOMPARE(TextColour(*window, "EditTarvikResulttext"), shown.ResulttextColour);
        QCOMPARE(Edit(*window, "EditTarvikBankName")->text(), shown.BankName);
        QCOMPARE(Edit(*window, "EditTarvikHinweis")->text(), shown.Hinweis);
        QCOMPARE(Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisibleTo(window.get()), shown.Button);
        if (shown.Button) {
            QCOMPARE(window->PanelTarvik().FormIbanBic().Iban(), answer.Iban);
            QCOMPARE(window->PanelTarvik().FormIbanBic().Bic(), answer.Bic);
        }
    }

    // The BIC's verdict names the SCL directory only when the service has one, with its date: without it, the
    // flags come from the bank directory and say nothing about SEPA reachability.
    void bicDisplayNamesTheSclDirectoryOnlyWhenTheServiceHasIt()
    {
        const struct
        {
            const char* Label;
            QString SclDate;
            QString BicName;
            int32_t Sct, Sdd, B2b;
            QString Text;
            QColor Colour;
        } rows[] = {
            {"listed", u"04.12.2026"_s, u"BNP PARIBAS"_s, 1, 1, 1,
             u"BIC in SCL-Directory gefunden (Stand 04.12.2026)"_s, kGreen},
            {"only SDD", u"04.12.2026"_s, u"Bank"_s, 0, 1, 0, u"BIC in SCL-Directory gefunden (Stand 04.12.2026)"_s,
             kGreen},
            {"in the bank directory only", u"04.12.2026"_s, u"Sparkasse Bonn"_s, 0, 0, 0,
             u"BIC nicht in SCL-Directory (Stand 04.12.2026)"_s, kRed},
            {"unknown", u"04.12.2026"_s, {}, 0, 0, 0, u"BIC nicht in SCL-Directory (Stand 04.12.2026)"_s, kRed},
            {"no SCL directory, known", {}, u"Commerzbank"_s, 1, 1, 1, u"BIC im Bankverzeichnis gefunden"_s, kGreen},
            {"no SCL directory, unknown", {}, {}, 0, 0, 0, u"BIC nicht im Bankverzeichnis"_s, kRed},
            {"failed", u"04.12.2026"_s, u"*Zeitüberschreitung"_s, 0, 0, 0, u"Zeitüberschreitung"_s, kMaroon},
        };
        for (const auto& row : rows) {
            TAccountValues values;
            values.SclDate = row.SclDate;
            values.BicName = row.BicName;
            values.Sct = row.Sct;
            values.Sdd = row.Sdd;
            values.B2b = row.B2b;
            const TAccountDisplay shown = AccountDisplay(kModeBic, values);
            QVERIFY2(shown.Resulttext.Text == row.Text, row.Label);
            QVERIFY2(shown.Resulttext.Colour == row.Colour, row.Label);
        }
    }

    void whatTheChecksSend()
    {
        auto window = Window();
        window->LabeledEditId->setText(u"42"_s);
        window->LabeledEditName->setText(u"Müller & Söhne"_s);
        Child<QRadioButton>(*window, "RadioButtonAT")->setChecked(true);
        window->PanelTarvik().CheckAccountWddx();
        QCOMPARE(Wddx->LastTarget(), "/tarvik?un=&pw=&blz=89999999&kto=1234&c=AT&id=42&name=M%FCller+%26+S%F6hne");
        window->LabeledEditId->setText(u"x"_s);
        Inputs(*window, u"COBADEFF"_s, kIban);
        window->PanelTarvik().CheckAccountWddx();
        QCOMPARE(Wddx->LastTarget(), "/tarvik?un=&pw=&iban=" + kIban.toStdString() +
                                         "&bic=COBADEFF&id=0&name=M%FCller+%26+S%F6hne");

        Edit(*window, "EditUser")->setText(u"anna"_s);
        Edit(*window, "EditPass")->setText(u"geheim"_s);
        Inputs(*window, u"37040044"_s, u"532013000"_s);
        window->LabeledEditId->setText(u"7"_s);
        window->PanelTarvik().CheckAccountWeb();
        const std::vector<test::WebCall> calls = Web->Calls();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].Operation, "TestBlzKto");
        std::vector<std::pair<std::string, std::string>> inputs;
        for (const test::WebInput& input : calls[0].Inputs)
            inputs.emplace_back(input.Name, input.Value);
        QCOMPARE(inputs, (std::vector<std::pair<std::string, std::string>>{{"UN", "anna"},
                                                                           {"PW", "geheim"},
                                                                           {"Blz", "37040044"},
                                                                           {"Kto", "532013000"},
                                                                           {"C", "AT"},
                                                                           {"Id", "7"},
                                                                           {"Name", "Müller & Söhne"}}));
    }

    void incompatibleInputsMakeNoCall()
    {
        for (const bool web : {false, true}) {
            auto window = Window(web);
            Inputs(*window, u"37040044"_s, kIban);
            QVERIFY(!Child<QPushButton>(*window, "ButtonTarvik")->isEnabled());
            if (web)
                window->PanelTarvik().CheckAccountWeb();
            else
                window->PanelTarvik().CheckAccountWddx();
            QCOMPARE(Edit(*window, "EditTarvikResult")->text(), u"94"_s);
            QCOMPARE(TextColour(*window, "EditTarvikResult"), kRed);
            QCOMPARE(Edit(*window, "EditTarvikResulttext")->text(), QString());
            QCOMPARE(Edit(*window, "EditTarvikBankName")->text(), QString());
            QCOMPARE(Edit(*window, "EditTarvikHinweis")->text(), QString());
        }
        QVERIFY(Wddx->Requests().empty());
        QVERIFY(Web->Calls().empty());
    }

    void bicCheckAfterANewBankCode()
    {
        auto window = Window();
        WddxAnswer = WddxReply({0, u"gültig"_s, u"Bank"_s, {}, u"70150001"_s, kIban, {}});
        Click(*window, "ButtonTarvik");
        QVERIFY(!Edit(*window, "EditTarvikHinweis")->text().isEmpty());
        QVERIFY(Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisibleTo(window.get()));

        // The object keeps the new bank code and IBAN of the first check; the BIC check shows neither.
        Inputs(*window, u"COBADEFFXXX"_s, QString());
        WddxAnswer = test::WddxPacket({{"bicname", ""}});
        Click(*window, "ButtonTarvik");
        QCOMPARE(Edit(*window, "EditTarvikHinweis")->text(), QString());
        QVERIFY(!Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisibleTo(window.get()));
    }

    void ibanBicWindow()
    {
        auto window = Window(true);
        Activate(*window);
        Click(*window, "ButtonTarvik"); // the stand-in answers with an IBAN and a BIC
        auto* button = Child<QPushButton>(*window, "ButtonIbanBicAnzeigen");
        QVERIFY(button->isVisible());
        QVERIFY(WhileModal<TFormIbanBicAnzeigen>([button] { button->click(); },
                                                 [](TFormIbanBicAnzeigen& shown) {
                                                     QCOMPARE(Edit(shown, "LabeledEditIban")->text(),
                                                              u"DE02701500000000594937"_s);
                                                     QCOMPARE(Edit(shown, "LabeledEditBic")->text(), u"SSKMDEMMXXX"_s);
                                                     QCOMPARE(shown.focusWidget(), Child<QPushButton>(shown, "ButtonOk"));
                                                     QTest::keyClick(&shown, Qt::Key_Escape);
                                                 }));
        QCOMPARE(window->PanelTarvik().FormIbanBic().result(), int(QDialog::Rejected));
        QVERIFY(WhileModal<TFormIbanBicAnzeigen>([button] { button->click(); },
                                                 [](TFormIbanBicAnzeigen& shown) {
                                                     // The IBAN can be selected for copying; Enter still means Ok.
                                                     Edit(shown, "LabeledEditIban")->setFocus();
                                                     Edit(shown, "LabeledEditIban")->selectAll();
                                                     QCOMPARE(Edit(shown, "LabeledEditIban")->selectedText(),
                                                              u"DE02701500000000594937"_s);
                                                     QTest::keyClick(Edit(shown, "LabeledEditIban"), Qt::Key_Return);
                                                 }));
        QCOMPARE(window->PanelTarvik().FormIbanBic().result(), int(QDialog::Accepted));
    }

    void focusAfterTheCheck()
    {
        auto window = Window();
        Activate(*window);
        Child<QPushButton>(*window, "ButtonTarvik")->setFocus();
        window->PanelTarvik().CheckAccountWddx();
        QCOMPARE(QApplication::focusWidget(), Edit(*window, "EditBlz"));
        QCOMPARE(Edit(*window, "EditBlz")->selectedText(), u"89999999"_s);

        Inputs(*window, QString(), u"4111111111111111"_s);
        QTest::keyClick(Edit(*window, "EditKto"), Qt::Key_Return); // Enter starts the check
        QCOMPARE(Wddx->Requests().size(), size_t(2));
        QCOMPARE(QApplication::focusWidget(), Edit(*window, "EditKto"));
        QCOMPARE(Edit(*window, "EditKto")->selectedText(), u"4111111111111111"_s);
    }

    void failedCheck()
    {
        // A reply the object cannot use is an answer like any other: red, and the panel's screenshot.
        Wddx->AnswerAlways(test::Reply::Status("HTTP/1.1 503 Service Unavailable"));
        auto window = Window();
        Activate(*window);
        Click(*window, "ButtonTarvik");
        QCOMPARE(Edit(*window, "EditTarvikResult")->text(), u"-200"_s);
        QCOMPARE(TextColour(*window, "EditTarvikResult"), kRed);
        QVERIFY(Edit(*window, "EditTarvikResulttext")->text().contains(u"503"_s));
        SaveScreenshot(*window, u"check-failed.png"_s);
    }

    void anErrorReachesTheMessageBox()
    {
        auto window = Window(true);
        Activate(*window);
        Click(*window, "ButtonTarvik");
        QVERIFY(Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisible());
        const QString hint = Edit(*window, "EditTarvikHinweis")->text();
        QVERIFY(!hint.isEmpty());

        Web->SetFault("Dienst gesperrt");
        Child<QPushButton>(*window, "ButtonTarvik")->setFocus();
        QString shown;
        QVERIFY(WhileModal<QMessageBox>([&] { Click(*window, "ButtonTarvik"); },
                                        [&shown](QMessageBox& box) {
                                            shown = box.text();
                                            box.accept();
                                        }));
        QVERIFY2(shown.contains(u"Dienst gesperrt"_s), qPrintable(shown));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // The control that has the focus when the window is active again (the desktop activates it after the message).
        QCOMPARE(window->focusWidget(), Edit(*window, "EditBlz"));
        for (const char* name : {"EditTarvikResult", "EditTarvikResulttext", "EditTarvikBankName"})
            QCOMPARE(Edit(*window, name)->text(), QString());
        QCOMPARE(Edit(*window, "EditTarvikHinweis")->text(), hint);
        QVERIFY(Child<QPushButton>(*window, "ButtonIbanBicAnzeigen")->isVisible());

        // Called directly, as the monitoring mode does, the error goes on to the caller.
        QVERIFY_THROWS_EXCEPTION(std::exception, window->PanelTarvik().CheckAccountWeb());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void successfulCheckScreenshot()
    {
        Web->SetAnswer("TestIban", {test::WebInt("return", 0), test::WebText("ResultText", "IBAN gültig"),
                                    test::WebText("BankName", "Commerzbank Köln"), test::WebText("NewBlz", ""),
                                    test::WebText("IbanOut", Utf8(kIban)), test::WebText("Bic", "COBADEFFXXX")});
        qputenv("ORVELWDDX_INFO_URL", "https://www.orvel.de/produkte/orvelwddx");
        auto window = Window(true);
        qunsetenv("ORVELWDDX_INFO_URL");
        Edit(*window, "EditUser")->setText(u"demo"_s);
        Edit(*window, "EditPass")->setText(u"wexo"_s);
        Activate(*window);
        Inputs(*window, QString(), kIban);
        Click(*window, "ButtonTarvik");
        QCOMPARE(Edit(*window, "EditTarvikResulttext")->text(), u"IBAN gültig"_s);
        SaveScreenshot(*window, u"check-ok.png"_s);
    }

    void tabSwitch()
    {
        auto window = Window();
        Activate(*window);
        auto* pages = Child<QTabWidget>(*window, "PageControlTarvik");
        pages->setCurrentIndex(1);
        QCOMPARE(QApplication::focusWidget(), Edit(*window, "EditTarvikSearch"));
        QCOMPARE(window->DefaultButton(), TDefaultButton::TarvikSearch);
        QVERIFY(Child<QPushButton>(*window, "ButtonTarvikSearch")->isDefault());
        Edit(*window, "EditBlz")->clear();
        pages->setCurrentIndex(0);
        QCOMPARE(QApplication::focusWidget(), Edit(*window, "EditKto"));
        QCOMPARE(window->DefaultButton(), TDefaultButton::Tarvik);
        QVERIFY(Child<QPushButton>(*window, "ButtonTarvik")->isDefault());
    }

    void searchLines_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("resulttext");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none") << 0 << QStringList() << QString()
                              << QStringList{u"Keine passende(n) Bank(en) gefunden."_s};
        QTest::newRow("one") << 1 << QStringList{u"10010010|Postbank|Berlin|10117"_s} << QString()
                             << QStringList{u"Eine einzige passende Bank gefunden:"_s,
                                            u"10010010\tPostbank\tBerlin\t10117"_s};
        QTest::newRow("two") << 2 << QStringList{u"a|b"_s, u"c"_s} << QString()
                             << QStringList{u"2 passende Banken gefunden:"_s, u"a\tb"_s, u"c"_s};
        QTest::newRow("failed") << -300 << QStringList() << u"Antwort nicht lesbar"_s
                                << QStringList{u"Suche fehlgeschlagen (-300):"_s, u"Antwort nicht lesbar"_s};
    }
    void searchLines()
    {
        QFETCH(int, count);
        QFETCH(QStringList, entries);
        QFETCH(QString, resulttext);
        QFETCH(QStringList, lines);
        QCOMPARE(SearchResultLines(count, entries, resulttext), lines);
    }

    void search_data()
    {
        QTest::addColumn<bool>("web");
        QTest::newRow("WDDX") << false;
        QTest::newRow("Web") << true;
    }
    void search()
    {
        QFETCH(bool, web);
        WddxAnswer = test::WddxPacketOf(test::WddxArrayVar(
            "banken", {W1252(u"10020500|Bank für Sozialwirtschaft|Berlin"_s), "10050000|Landesbank Berlin|Berlin"}));
        Web->SetAnswer("Search", {test::WebList("return", {"10020500|Bank für Sozialwirtschaft|Berlin",
                                                           "10050000|Landesbank Berlin|Berlin"})});
        auto window = Window(web);
        Activate(*window);
        // The country counts also while the check tab has the group disabled.
        Child<QRadioButton>(*window, "RadioButtonAT")->setChecked(true);
        Inputs(*window, u"COBADEFF"_s, QString());
        QVERIFY(!Child<QGroupBox>(*window, "RadioGroupLand")->isEnabled());
        Child<QTabWidget>(*window, "PageControlTarvik")->setCurrentIndex(1);
        QTest::keyClicks(Edit(*window, "EditTarvikSearch"), u"Bank Berlin"_s);
        Child<QCheckBox>(*window, "CheckBoxTarvikFragments")->setChecked(true);

        QString text;
        QVERIFY(WhileModal<TFormSearchResult>(
            [&] { QTest::keyClick(Edit(*window, "EditTarvikSearch"), Qt::Key_Return); },
            [&](TFormSearchResult& result) {
                text = result.Text();
                QCOMPARE(result.focusWidget(), Child<QPushButton>(result, "ButtonOk"));
                if (!web)
                    SaveScreenshot(result, u"search-result.png"_s);
                QTest::keyClick(&result, Qt::Key_Escape);
            }));
        QCOMPARE(text, u"2 passende Banken gefunden:\n10020500\tBank für Sozialwirtschaft\tBerlin\n"
                       "10050000\tLandesbank Berlin\tBerlin"_s);
        QCOMPARE(window->focusWidget(), Edit(*window, "EditTarvikSearch"));
        QCOMPARE(Edit(*window, "EditTarvikSearch")->selectedText(), u"Bank Berlin"_s);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        if (web) {
            const std::vector<test::WebCall> calls = Web->Calls();
            std::vector<std::pair<std::string, std::string>> inputs;
            for (const test::WebInput& input : calls.at(0).Inputs)
                inputs.emplace_back(input.Name, input.Value);
            QCOMPARE(inputs, (std::vector<std::pair<std::string, std::string>>{{"UN", ""},
                                                                               {"PW", ""},
                                                                               {"SearchString", "Bank Berlin"},
                                                                               {"C", "AT"},
                                                                               {"Fragments", "1"}}));
        } else {
            QCOMPARE(Wddx->LastTarget(), "/tarvik?un=&pw=&search=Bank+Berlin&c=AT&fragments=1");
        }

        // Without fragments the flag is 0; Ok closes the window.
        Child<QCheckBox>(*window, "CheckBoxTarvikFragments")->setChecked(false);
        QVERIFY(WhileModal<TFormSearchResult>([&] { window->PanelTarvikSearch().ButtonTarvikSearchClick(); },
                                              [](TFormSearchResult& result) {
                                                  Child<QPushButton>(result, "ButtonOk")->click();
                                              }));
        if (web)
            QCOMPARE(Web->Calls().at(1).Inputs.at(4).Value, "0");
        else
            QVERIFY(Wddx->LastTarget().ends_with("&fragments=0"));
    }

    void failedSearch()
    {
        WddxAnswer = "<wddxPacket version='1.0'><data>";
        auto window = Window();
        QString text;
        QVERIFY(WhileModal<TFormSearchResult>([&] { window->PanelTarvikSearch().SearchBanksWddx(); },
                                              [&](TFormSearchResult& result) {
                                                  text = result.Text();
                                                  result.reject();
                                              }));
        QVERIFY2(text.startsWith(u"Suche fehlgeschlagen (-300):\n"_s), qPrintable(text));
        QVERIFY(text.size() > 30);
    }

    void noCountrySelected()
    {
        // A negative stored country leaves the group without a selection; the service hears an empty country.
        QDir().mkpath(Home->filePath(u"OrvelWddx"_s));
        QFile file(Home->filePath(u"OrvelWddx/user.reg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvel\\OrvelWddx]\r\n"
                   "\"C\"=dword:ffffffff\r\n");
        file.close();
        auto window = Window();
        QCOMPARE(window->LandText(), QString());
        window->PanelTarvik().CheckAccountWddx();
        QVERIFY(Wddx->LastTarget().find("&c=&") != std::string::npos);
        QVERIFY(WhileModal<TFormSearchResult>([&] { window->PanelTarvikSearch().SearchBanksWddx(); },
                                              [](TFormSearchResult& result) { result.reject(); }));
        QVERIFY(Wddx->LastTarget().find("&c=&") != std::string::npos);
    }

    void searchErrorReachesTheMessageBox()
    {
        Web->SetFault("Suche nicht erlaubt");
        auto window = Window(true);
        Activate(*window);
        window->PanelTarvikSearch().FormSearchResult().SetLines({u"alt"_s});
        Child<QTabWidget>(*window, "PageControlTarvik")->setCurrentIndex(1);
        Edit(*window, "EditTarvikSearch")->setText(u"Bank"_s);
        Child<QPushButton>(*window, "ButtonTarvikSearch")->setFocus();
        QString shown;
        QVERIFY(WhileModal<QMessageBox>([&] { Click(*window, "ButtonTarvikSearch"); },
                                        [&shown](QMessageBox& box) {
                                            shown = box.text();
                                            box.accept();
                                        }));
        QVERIFY2(shown.contains(u"Suche nicht erlaubt"_s), qPrintable(shown));
        QCOMPARE(window->PanelTarvikSearch().FormSearchResult().Text(), QString());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(window->focusWidget(), Edit(*window, "EditTarvikSearch"));
    }
};

} // namespace orvel

QTEST_MAIN(orvel::TarvikPanelTest)
#include "TarvikPanelTest.moc"
