// The address panel in the real window, offscreen, against the WDDX fixture server, the web-services stand-in and the
// local checking service.

#include "ui/AddressPanel.h"
#include "ui/ElidingComboBox.h"
#include "ui/ElidingLineEdit.h"
#include "platform/Codepage.h"
#include "server/OrvelWddx_TLB.h"
#include "support/FixtureServer.h"
#include "support/Wddx.h"
#include "support/WebServiceServer.h"
#include "support/Widgets.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

namespace {

const QColor kGreenText{0, 128, 0};
const QColor kRedText{255, 0, 0};

std::string W1252(const QString& Text)
{
    return Narrow(Text.toStdU16String());
}

QStringList Items(const QComboBox& Box)
{
    QStringList items;
    for (int i = 0; i < Box.count(); ++i)
        items.append(Box.itemText(i));
    return items;
}

QColor TextColour(const QWidget& Widget)
{
    return Widget.palette().color(QPalette::Text);
}

// A socket on 127.0.0.1: bound to Port, or connected to it; -1 when that fails.
int LocalSocket(uint16_t Port, bool Connect)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const int done = Connect ? ::connect(fd, raw, sizeof address) : ::bind(fd, raw, sizeof address);
    if (done != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint16_t FreePort()
{
    const int fd = LocalSocket(0, false);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    ::close(fd);
    return ntohs(bound.sin_port);
}

bool Answers(uint16_t Port)
{
    const int fd = LocalSocket(Port, true);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

class AddressPanelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    std::unique_ptr<test::FixtureServer> Wddx;
    std::unique_ptr<test::WebServiceServer> Web;
    std::string WddxAnswer;

    std::unique_ptr<TFormMain> Window(bool DoWeb = false)
    {
        auto window = std::make_unique<TFormMain>();
        window->HostWeb = Web->Host();
        window->DoWeb = DoWeb;
        // A first start stores no account; these are the service's test account.
        Edit(*window, "EditUser")->setText(u"demo"_s);
        Edit(*window, "EditPass")->setText(u"wexo"_s);
        return window;
    }
    static QComboBox* Orte(const TFormMain& Window) { return Child<QComboBox>(Window, "ComboBoxOrte"); }
    static void Click(TFormMain& Window, const char* Name) { Child<QPushButton>(Window, Name)->click(); }
    static void Inputs(TFormMain& Window, const QString& StrPof, bool Pof, const QString& Hnr)
    {
        Edit(Window, "EditStrPof")->setText(StrPof);
        Child<QRadioButton>(Window, Pof ? "RadioButtonPof" : "RadioButtonStr")->setChecked(true);
        Edit(Window, "LabeledEditHnr")->setText(Hnr);
    }

private slots:
    void initTestCase() { Server = test::StandaloneServer(); }
    void init()
    {
        Home = test::PrivateConfigHome();
        WddxAnswer = test::WddxPacket({{"result", "0"}, {"resulttext", "Adresse korrekt"}});
        Wddx =
            std::make_unique<test::FixtureServer>([this](const test::Request&) { return test::Reply::Ok(WddxAnswer); });
        Web = std::make_unique<test::WebServiceServer>();
        qputenv("ORVELWDDX_HOST", QByteArray::fromStdString(Wddx->HostPort()));
        // The README's pictures come from here: a product page rather than this machine's folders.
        qputenv("ORVELWDDX_INFO_URL", "https://www.orvel.de/produkte/orvelwddx");
    }
    void cleanup()
    {
        qunsetenv("ORVELWDDX_INFO_URL");
        Wddx.reset();
        Web.reset();
        Home.reset();
    }

    void colours()
    {
        for (int result : {0, 9, 12})
            QCOMPARE(AddressResultColour(result), kGreenText);
        for (int result : {-1, 1, 4, 8, 10, 11, 13, 101})
            QCOMPARE(AddressResultColour(result), kRedText);
        const std::vector<std::pair<int, QColor>> types = {
            {0, kRedText}, {100, kRedText}, {101, kGreenText}, {109, kGreenText}, {110, kRedText}};
        for (const auto& [result, colour] : types)
            QCOMPARE(PlzTypeColour(result), colour);
    }

    void placesList_data()
    {
        QTest::addColumn<QStringList>("orte");
        QTest::addColumn<QStringList>("alteOrte");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<bool>("open");
        QTest::newRow("no list") << QStringList() << QStringList() << QStringList() << false;
        QTest::newRow("count 0") << QStringList{u"0"_s} << QStringList{u"Alt"_s} << QStringList() << false;
        QTest::newRow("one place: no count entry")
            << QStringList{u"1"_s, u"Berlin"_s} << QStringList() << QStringList{u"Berlin"_s} << false;
        QTest::newRow("one place and former names")
            << QStringList{u"1"_s, u"Frankfurt am Main"_s} << QStringList{u"Höchst"_s, u"Frankfurt-Höchst"_s}
            << QStringList{u"Frankfurt am Main"_s, u"Höchst"_s, u"Frankfurt-Höchst"_s} << false;
        QTest::newRow("three places and two former names")
            << QStringList{u"3"_s, u"10117|Berlin"_s, u"10117|Berlin-Mitte"_s, u"10117|Mitte"_s}
            << QStringList{u"Alt-Berlin"_s, u"Cölln"_s}
            << QStringList{u"3 Orte gefunden:"_s, u"10117|Berlin"_s, u"10117|Berlin-Mitte"_s,
                           u"10117|Mitte"_s,      u"Alt-Berlin"_s,   u"Cölln"_s}
            << true;
    }
    void placesList()
    {
        QFETCH(QStringList, orte);
        QFETCH(QStringList, alteOrte);
        QFETCH(QStringList, items);
        QFETCH(bool, open);
        QCOMPARE(PlacesList(orte, alteOrte), (TPlacesList{items, open}));
    }

    void placeOfEntry()
    {
        const QStringList several = {u"2 Orte gefunden:"_s, u"10117|Berlin"_s, u"Mitte"_s};
        QCOMPARE(PlaceOfEntry(several, 0), QString());
        QCOMPARE(PlaceOfEntry(several, -1), QString());
        QCOMPARE(PlaceOfEntry(several, 1), u"Berlin"_s);
        QCOMPARE(PlaceOfEntry(several, 2), u"Mitte"_s);
        QCOMPARE(PlaceOfEntry({u"a|b|Cölln"_s}, 0), u"Cölln"_s);
    }

    void controls()
    {
        auto window = Window();
        QCOMPARE(Edit(*window, "EditPlz")->text(), u"99999"_s);
        QCOMPARE(Edit(*window, "EditPlz")->maxLength(), 5);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Musterstadt"_s);
        QCOMPARE(Edit(*window, "EditStrPof")->text(), u"Hier Straße oder Postfach eingeben, sonst leer lassen!"_s);
        QCOMPARE(Edit(*window, "LabeledEditHnr")->maxLength(), 4);
        auto* rewrite = Child<QComboBox>(*window, "ComboBoxRewrite");
        QCOMPARE(rewrite->currentIndex(), 2);
        QCOMPARE(
            Items(*rewrite),
            (QStringList{u"0: Nur Erkennung von exakten Ortsnamen, Rückgabe \"kurz\""_s,
                         u"1: Erkennung von \"unschönen\" \"kurzen\" Ortsnamen, Rückgabe \"kurz\""_s,
                         u"2: Erkennung von \"unschönen\" \"kurzen\" und \"langen\" Ortsnamen, Rückgabe \"kurz\""_s,
                         u"3: Erkennung von \"unschönen\" \"kurzen\" und \"langen\" Ortsnamen, Rückgabe \"lang\""_s}));
        QCOMPARE(rewrite->toolTip(), u"Modus der Erkennung von Ortsnamen und Art der Rückgabe von Ortsnamen"_s);
        QCOMPARE(Child<QLabel>(*window, "LabelOrtsnamen")->text(), u"\"(Un)sch&öne\" Ortsnamen:"_s);
        QCOMPARE(Child<QLabel>(*window, "LabelOrtsnamen")->buddy(), rewrite);
        for (const auto& [label, caption, field] : std::vector<std::tuple<const char*, QString, const char*>>{
                 {"LabelPlz", u"Post&leitzahl:"_s, "EditPlz"},
                 {"LabelOrt", u"&Ort:"_s, "EditOrt"},
                 {"LabelHnr", u"ggf. Hausnr.:"_s, "LabeledEditHnr"},
                 {"LabelAddressResult", u"Ergebnis\nals Zahl:"_s, "EditAddressResult"},
                 {"LabelOrtsteil", u"ggf. Ortsteil:"_s, "LabeledEditOrtsteil"},
                 {"LabelPlzOut", u"ggf. Plz:"_s, "LabeledEditPlzOut"}}) {
            test::CheckLabel(*window, label, caption, field);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(Child<QLabel>(*window, "LabelAddressResulttext")->text(), u"Ergebnis\nals Text:"_s);
        QCOMPARE(Child<QLabel>(*window, "LabelAddressOrte")->text(), u"ggf. Ortsliste:"_s);
        QCOMPARE(Child<QLabel>(*window, "LabelStrPof")->text(), u"Zusätzlich testen:"_s);
        QCOMPARE(Child<QRadioButton>(*window, "RadioButtonStr")->text(), u"Stra&ße:"_s);
        QCOMPARE(Child<QRadioButton>(*window, "RadioButtonPof")->text(), u"Post&fach:"_s);
        QVERIFY(Child<QRadioButton>(*window, "RadioButtonStr")->isChecked());
        QCOMPARE(Child<QPushButton>(*window, "ButtonAddress")->text(), u"Sta&rt"_s);
        QCOMPARE(Child<QPushButton>(*window, "ButtonTyp")->text(), u"Plz-T&yp"_s);
        QVERIFY(Edit(*window, "EditAddressResult")->font().bold());
        QCOMPARE(Edit(*window, "EditAddressResult")->font().pixelSize(), 16);
        QVERIFY(!(Edit(*window, "EditAddressResult")->focusPolicy() & Qt::TabFocus));
        QVERIFY(Child<QPlainTextEdit>(*window, "MemoAddressResulttext")->isReadOnly());

        // The radio group goes with the street field.
        auto* group = Child<QWidget>(*window, "RadioGroupStrPof");
        QVERIFY(group->isEnabled());
        Edit(*window, "EditStrPof")->clear();
        QVERIFY(!group->isEnabled());
        Edit(*window, "EditStrPof")->setText(u"Hauptstr."_s);
        QVERIFY(group->isEnabled());
    }

    // The rewrite mode box keeps its size; a selected item too long for it ends in "…" and shows whole as the
    // tooltip, a short one keeps the box's own tooltip.
    void rewriteBoxElides()
    {
        auto window = Window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto* rewrite = Child<TElidingComboBox>(*window, "ComboBoxRewrite");
        const QSize size = rewrite->size();
        const QString purpose = rewrite->toolTip();
        const auto toolTip = [&] {
            QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), rewrite->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(rewrite, &help);
            const QString text = QToolTip::text();
            QToolTip::hideText();
            return text;
        };
        QVERIFY(rewrite->IsElided());
        QCOMPARE(toolTip(), u"2: Erkennung von \"unschönen\" \"kurzen\" und \"langen\" Ortsnamen, Rückgabe \"kurz\""_s);
        QDir().mkpath(QString::fromLatin1(ORVEL_SCREENSHOT_DIR));
        QVERIFY(rewrite->grab().save(QString::fromLatin1(ORVEL_SCREENSHOT_DIR) + u"/address-rewrite.png"_s));
        rewrite->addItem(u"4"_s);
        rewrite->setCurrentIndex(4);
        QVERIFY(!rewrite->IsElided());
        QCOMPARE(toolTip(), purpose);
        QCOMPARE(rewrite->size(), size);
    }

    void addressChoices_data()
    {
        QTest::addColumn<QString>("strPof");
        QTest::addColumn<bool>("pof");
        QTest::addColumn<QString>("hnr");
        QTest::addColumn<QString>("wddxQuery");
        QTest::addColumn<QString>("webOperation");
        QTest::newRow("street empty") << QString() << true << u"7"_s << u"&ort=Musterstadt&rewrite=1"_s
                                      << u"CheckPlzOrt"_s;
        QTest::newRow("PO box, house number not sent")
            << u"1234"_s << true << u"7"_s << u"&ort=Musterstadt&pof=1234&rewrite=1"_s << u"CheckPlzOrtPof"_s;
        QTest::newRow("street with house number")
            << u"Hauptstr."_s << false << u"7a"_s << u"&ort=Musterstadt&str=Hauptstr%2E&hnr=7a&rewrite=1"_s
            << u"CheckPlzOrtStr"_s;
        QTest::newRow("street without house number")
            << u"Hauptstr."_s << false << QString() << u"&ort=Musterstadt&str=Hauptstr%2E&rewrite=1"_s
            << u"CheckPlzOrtStr"_s;
    }
    void addressChoices()
    {
        QFETCH(QString, strPof);
        QFETCH(bool, pof);
        QFETCH(QString, hnr);
        QFETCH(QString, wddxQuery);
        QFETCH(QString, webOperation);

        auto window = Window();
        Inputs(*window, strPof, pof, hnr);
        Child<QComboBox>(*window, "ComboBoxRewrite")->setCurrentIndex(1);
        Click(*window, "ButtonAddress");
        const QString target = QString::fromStdString(Wddx->LastTarget());
        QVERIFY2(target.startsWith(u"/address?un=demo&pw=wexo&func=check&plz=99999"_s), qPrintable(target));
        QVERIFY2(target.endsWith(wddxQuery), qPrintable(target));
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), u"0"_s);
        QCOMPARE(Child<QPlainTextEdit>(*window, "MemoAddressResulttext")->toPlainText(), u"Adresse korrekt"_s);
        QCOMPARE(TextColour(*Edit(*window, "EditAddressResult")), kGreenText);
        QCOMPARE(window->focusWidget(), Edit(*window, "EditPlz"));

        window->DoWeb = true;
        Click(*window, "ButtonAddress");
        const std::vector<test::WebCall> calls = Web->Calls();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(QString::fromStdString(calls[0].Operation), webOperation);
        std::map<std::string, std::string> inputs;
        for (const test::WebInput& input : calls[0].Inputs)
            inputs[input.Name] = input.Value;
        QCOMPARE(inputs["Rewrite"], std::string("1"));
        QCOMPARE(inputs["Ort"], std::string("Musterstadt"));
        if (webOperation == u"CheckPlzOrtStr"_s)
            QCOMPARE(QString::fromStdString(inputs["Hnr"]), hnr);
        else
            QVERIFY(!inputs.contains("Hnr"));
    }

    void wddxPlaces()
    {
        Wddx->SetStatusBody(test::FixtureServer::kServiceStatus);
        auto window = Window();
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        // The user works in the group, so entering it does not close the list again.
        Edit(*window, "EditPlz")->setFocus();
        Edit(*window, "EditPlz")->setText(u"10117"_s);
        Edit(*window, "EditOrt")->setText(u"Berln"_s);
        Edit(*window, "EditStrPof")->clear();
        Edit(*window, "LabeledEditOrtsteil")->setText(u"alt"_s);
        WddxAnswer = test::WddxPacketOf(
            test::WddxStringVar("result", "4") + test::WddxStringVar("resulttext", W1252(u"Ort unbekannt"_s)) +
            test::WddxArrayVar("orte", {"10117|Berlin", "10117|Berlin-Mitte", "10117|Mitte"}) +
            test::WddxArrayVar("alteorte", {"Alt-Berlin", W1252(u"Cölln"_s)}));
        Click(*window, "ButtonAddress");
        QComboBox* orte = Orte(*window);
        QCOMPARE(Items(*orte), (QStringList{u"3 Orte gefunden:"_s, u"10117|Berlin"_s, u"10117|Berlin-Mitte"_s,
                                            u"10117|Mitte"_s, u"Alt-Berlin"_s, u"Cölln"_s}));
        QCOMPARE(orte->currentIndex(), 0);
        QVERIFY(orte->view()->isVisible());
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), u"4"_s);
        QCOMPARE(TextColour(*Child<QPlainTextEdit>(*window, "MemoAddressResulttext")), kRedText);
        QCOMPARE(Edit(*window, "LabeledEditOrtsteil")->text(), QString());
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Berln"_s);

        // The window with the open list drawn over it, as the user sees it.
        QTRY_VERIFY(Child<QLabel>(*window, "LabelBankData")->text().startsWith(u"Bankdaten gültig"_s));
        QPixmap shot = window->grab();
        {
            QPainter painter(&shot);
            QWidget* popup = orte->view()->window();
            painter.drawPixmap(window->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
        }
        QDir().mkpath(QString::fromLatin1(ORVEL_SCREENSHOT_DIR));
        QVERIFY(shot.save(QString::fromLatin1(ORVEL_SCREENSHOT_DIR) + u"/address-places.png"_s));
        orte->hidePopup();

        // The count entry is not a place; a place entry gives the text after its last "|".
        emit orte->activated(0);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Berln"_s);
        orte->setCurrentIndex(2);
        emit orte->activated(2);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Berlin-Mitte"_s);
        orte->setCurrentIndex(5);
        emit orte->activated(5);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Cölln"_s);

        // One place: no count entry, the list closed.
        WddxAnswer = test::WddxPacketOf(
            test::WddxStringVar("result", "4") + test::WddxStringVar("resulttext", "Ort korrigiert") +
            test::WddxStringVar("rewritten", "Berlin") + test::WddxArrayVar("orte", {"10117|Berlin"}) +
            test::WddxArrayVar("alteorte", {}));
        Click(*window, "ButtonAddress");
        QCOMPARE(Items(*orte), QStringList{u"10117|Berlin"_s});
        QCOMPARE(orte->currentIndex(), 0);
        QVERIFY(!orte->view()->isVisible());
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Berlin"_s);
        emit orte->activated(0);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"Berlin"_s);
    }

    void webPlaces()
    {
        // The web service sends the places without a count; the panel counts them.
        auto window = Window(true);
        Edit(*window, "EditStrPof")->clear();
        Web->SetAnswer("CheckPlzOrt",
                       {test::WebInt("return", 4), test::WebText("ResultText", "mehrdeutig"),
                        test::WebText("Rewritten", ""), test::WebList("Orte", {"Halle (Saale)", "Halle"}),
                        test::WebList("AlteOrte", {"Halle-Neustadt"})});
        Click(*window, "ButtonAddress");
        QCOMPARE(Items(*Orte(*window)),
                 (QStringList{u"2 Orte gefunden:"_s, u"Halle (Saale)"_s, u"Halle"_s, u"Halle-Neustadt"_s}));
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), u"4"_s);

        // The street check brings the long street name, district and postal code.
        Edit(*window, "EditStrPof")->setText(u"Leopoldstr."_s);
        Click(*window, "ButtonAddress");
        QCOMPARE(Edit(*window, "EditStrPof")->text(), u"Leopoldstraße"_s);
        QCOMPARE(Edit(*window, "EditOrt")->text(), u"München"_s);
        QCOMPARE(Edit(*window, "LabeledEditOrtsteil")->text(), u"Schwabing-West"_s);
        QCOMPARE(Edit(*window, "LabeledEditPlzOut")->text(), u"80802"_s);
        QCOMPARE(Items(*Orte(*window)), QStringList{u"München"_s});
    }

    void plzType()
    {
        auto window = Window();
        Edit(*window, "LabeledEditPlzOut")->setText(u"80802"_s);
        Orte(*window)->addItems({u"2 Orte gefunden:"_s, u"A"_s, u"B"_s});
        WddxAnswer = test::WddxPacket({{"result", "101"}, {"resulttext", "Zustellbezirk"}});
        Click(*window, "ButtonTyp");
        QVERIFY2(Wddx->LastTarget().starts_with("/address?un=demo&func=type&pw=wexo&plz=99999"),
                 Wddx->LastTarget().c_str());
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), u"101"_s);
        QCOMPARE(TextColour(*Edit(*window, "EditAddressResult")), kGreenText);
        QCOMPARE(Orte(*window)->count(), 3);
        QCOMPARE(Edit(*window, "LabeledEditPlzOut")->text(), u"80802"_s);

        window->DoWeb = true;
        Click(*window, "ButtonTyp");
        QCOMPARE(Web->Calls().back().Operation, std::string("GetPlzType"));
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), u"3"_s);
        QCOMPARE(Child<QPlainTextEdit>(*window, "MemoAddressResulttext")->toPlainText(), u"Großempfänger"_s);
        QCOMPARE(TextColour(*Child<QPlainTextEdit>(*window, "MemoAddressResulttext")), kRedText);
    }

    void serviceFault()
    {
        auto window = Window(true);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Edit(*window, "EditOrt")->setFocus();
        Edit(*window, "EditAddressResult")->setText(u"0"_s);
        Edit(*window, "LabeledEditPlzOut")->setText(u"80802"_s);
        Web->SetFault("Dienst nicht verfügbar");
        QString shown;
        QVERIFY(test::WhileModal<QMessageBox>([&] { Click(*window, "ButtonAddress"); },
                                              [&](QMessageBox& box) { shown = box.text(); }));
        QVERIFY2(shown.contains(u"Dienst nicht verfügbar"_s), qPrintable(shown));
        QCOMPARE(Edit(*window, "EditAddressResult")->text(), QString());
        QCOMPARE(Edit(*window, "LabeledEditPlzOut")->text(), u"80802"_s);
        QCOMPARE(window->focusWidget(), Edit(*window, "EditPlz"));
        QCOMPARE(Edit(*window, "EditPlz")->selectedText(), u"99999"_s);
    }

    // The window's start texts and a real postal code against the local checking service.
    void serviceDownHint_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hint");
        QTest::newRow("refused") << -200 << u"Socket-Fehler # 10061\r\nVerbindung abgelehnt."_s << true;
        QTest::newRow("host unknown") << -200 << u"Socket-Fehler # 11001\r\nHost nicht gefunden."_s << false;
        QTest::newRow("time-out") << -200 << u"Zeitüberschreitung der Verbindung."_s << false;
        QTest::newRow("HTTP error") << -200 << u"HTTP/1.1 503 Service Unavailable"_s << false;
        QTest::newRow("unreadable reply") << -300 << u"Socket-Fehler # 10061"_s << false;
        QTest::newRow("an answer") << 4 << u"Schreibweise weicht ab"_s << false;
    }
    void serviceDownHint()
    {
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(bool, hint);
        QCOMPARE(ServiceDownHint(result, text, u"127.0.0.1:8590"_s),
                 hint ? u"Auf 127.0.0.1:8590 antwortet kein Prüfdienst. Den lokalen Prüfdienst starten: "
                        "./scripts/run oder systemctl --user start orvelwddx-service.socket"_s
                      : QString());
    }

    void nothingAnswersOnTheHost()
    {
        const QString host = u"127.0.0.1:"_s + QString::number(FreePort());
        qputenv("ORVELWDDX_HOST", host.toUtf8());
        auto window = Window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QString hint = ServiceDownHint(-200, u"Socket-Fehler # 10061"_s, host);

        Click(*window, "ButtonTarvik");
        QCOMPARE(Edit(*window, "EditTarvikResult")->text(), u"-200"_s);
        QVERIFY2(Edit(*window, "EditTarvikResulttext")->text().startsWith(u"Socket-Fehler # 10061"_s),
                 qPrintable(Edit(*window, "EditTarvikResulttext")->text()));
        // Where a field holds a line, a short one that fits, with the whole hint in the tooltip.
        auto* hinweis = Child<TElidingLineEdit>(*window, "EditTarvikHinweis");
        QCOMPARE(hinweis->text(), u"Kein Prüfdienst – starten: ./scripts/run"_s);
        QVERIFY(!hinweis->IsElided());
        QCOMPARE(hinweis->toolTip(), hint);

        Click(*window, "ButtonAddress");
        auto* memo = Child<QPlainTextEdit>(*window, "MemoAddressResulttext");
        QVERIFY2(memo->toPlainText().startsWith(u"Socket-Fehler # 10061"_s) &&
                     memo->toPlainText().endsWith(u"\nKein Prüfdienst – starten: ./scripts/run"_s),
                 qPrintable(memo->toPlainText()));
        QVERIFY2(memo->toolTip().startsWith(u"Socket-Fehler # 10061"_s) && memo->toolTip().endsWith(u"\n"_s + hint),
                 qPrintable(memo->toolTip()));
        // The hint's line is the one in sight, in one line.
        const QTextBlock last = memo->document()->lastBlock();
        QCOMPARE(last.layout()->lineCount(), 1);
        QVERIFY(memo->viewport()->rect().contains(memo->cursorRect(QTextCursor(last)).bottomLeft()));
        test::SaveScreenshot(*window, u"service-down.png"_s);

        // Through the web services the transport error comes as a message, with the hint under it.
        window->DoWeb = true;
        window->HostWeb = host.toStdString();
        for (const char* button : {"ButtonTarvik", "ButtonAddress"}) {
            QString shown;
            QVERIFY(test::WhileModal<QMessageBox>([&] { Click(*window, button); },
                                                  [&shown](QMessageBox& box) {
                                                      shown = box.text();
                                                      box.accept();
                                                  }));
            QVERIFY2(shown.startsWith(u"Socket-Fehler # 10061"_s) && shown.endsWith(u"\n"_s + hint), qPrintable(shown));
        }
    }

    void localService()
    {
        const uint16_t port = FreePort();
        const QString host = u"127.0.0.1:"_s + QString::number(port);
        QProcess service;
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start(QString::fromLatin1(ORVEL_SERVICE_BINARY),
                      {u"--listen"_s, host, u"--postal-file"_s, QString::fromLatin1(ORVEL_POSTAL_FILE)});
        QVERIFY(service.waitForStarted());
        const auto stop = qScopeGuard([&] {
            service.terminate();
            if (!service.waitForFinished(5000))
                service.kill();
        });
        QTRY_VERIFY_WITH_TIMEOUT(Answers(port), 10000);
        qputenv("ORVELWDDX_HOST", host.toUtf8());
        qputenv("ORVELWDDX_VIES_URL",
                (u"http://"_s + host + u"/taxation_customs/vies/services/checkVatService"_s).toUtf8());
        const auto viesBack = qScopeGuard([] { qunsetenv("ORVELWDDX_VIES_URL"); });

        // The service also answers the VAT id check, with a verdict rather than an error.
        {
            auto window = Window();
            Edit(*window, "LabeledEditUStID")->setText(u"DE123456789"_s);
            Click(*window, "ButtonUStID");
            const QString verdict = Child<QLabel>(*window, "LabelUStID")->text();
            QVERIFY2(verdict == u"Gültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s ||
                         verdict == u"Ungültig – nur Aufbau und Prüfziffer (lokaler Dienst)"_s,
                     qPrintable(verdict));
        }

        // An IBAN as the window shows the service's answer; the README's picture of the account check.
        {
            auto window = Window();
            window->show();
            QApplication::setActiveWindow(window.get());
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            Edit(*window, "EditBlz")->clear();
            Edit(*window, "EditKto")->setText(u"DE89370400440532013000"_s);
            Edit(*window, "EditKto")->setFocus();
            Click(*window, "ButtonTarvik");
            QCOMPARE(Edit(*window, "EditTarvikResult")->text(), u"0"_s);
            QCOMPARE(TextColour(*Edit(*window, "EditTarvikResult")), kGreenText);
            // The built-in data may be superseded by the time this runs, which the text then adds.
            QVERIFY(Edit(*window, "EditTarvikResulttext")->text().startsWith(u"Bankleitzahl und Kontonummer gültig"_s));
            QCOMPARE(Edit(*window, "EditTarvikBankName")->text(), u"Commerzbank"_s);
            test::SaveScreenshot(*window, u"account-check.png"_s);
        }

        for (bool web : {false, true}) {
            auto window = Window(web);
            window->HostWeb = host.toStdString();
            Edit(*window, "EditUser")->setText(u"demo"_s);
            Edit(*window, "EditPass")->setText(u"wexo"_s);
            Click(*window, "ButtonAddress");
            QVERIFY2(TextColour(*Edit(*window, "EditAddressResult")) == kGreenText,
                     qPrintable(Edit(*window, "EditAddressResult")->text() + u' ' +
                                Child<QPlainTextEdit>(*window, "MemoAddressResulttext")->toPlainText()));

            Edit(*window, "EditPlz")->setText(u"10117"_s);
            Edit(*window, "EditOrt")->setText(u"Berlin"_s);
            Edit(*window, "EditStrPof")->clear();
            Click(*window, "ButtonAddress");
            QCOMPARE(TextColour(*Edit(*window, "EditAddressResult")), kGreenText);

            Edit(*window, "EditOrt")->setText(u"Hamburg"_s);
            Click(*window, "ButtonAddress");
            QCOMPARE(TextColour(*Edit(*window, "EditAddressResult")), kRedText);
            QVERIFY2(Items(*Orte(*window)).join(u',').contains(u"Berlin"_s),
                     qPrintable(Items(*Orte(*window)).join(u',')));
        }
    }
};

} // namespace orvel

QTEST_MAIN(orvel::AddressPanelTest)
#include "AddressPanelTest.moc"
