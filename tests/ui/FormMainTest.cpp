// The main window against its real settings file, objects and a fixture server, offscreen.

#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/Error.h"
#include "server/Confirmation.h"
#include "server/OrvelWddx_TLB.h"
#include "support/FileSizeLimit.h"
#include "support/FixtureServer.h"
#include "support/LocalService.h"
#include "support/Widgets.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/SingleWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <memory>
#include <sstream>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Orvel\\OrvelWddx]\r\n";

// The file the window writes at close for these values, in the order it writes them.
struct Written
{
    std::string User, Pass;
    int SSL = 0, IgnoreInvalidCerts = 0;
    std::string ProxyHost;
    int ProxyPort = 0;
    std::string ProxyUser, ProxyPass, HostWddx, HostWeb;
    int DoWeb = 0;
    unsigned C = 0;

    std::string Values() const
    {
        auto dword = [](unsigned value) {
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", value);
            return std::string(text);
        };
        return "\"User\"=\"" + User + "\"\r\n\"Pass\"=\"" + Pass + "\"\r\n\"SSL\"=" + dword(unsigned(SSL)) +
               "\r\n\"IgnoreInvalidCerts\"=" + dword(unsigned(IgnoreInvalidCerts)) + "\r\n\"ProxyHost\"=\"" +
               ProxyHost + "\"\r\n\"ProxyPort\"=" + dword(unsigned(ProxyPort)) + "\r\n\"ProxyUser\"=\"" + ProxyUser +
               "\"\r\n\"ProxyPass\"=\"" + ProxyPass + "\"\r\n\"HostWddx\"=\"" + HostWddx + "\"\r\n\"HostWeb\"=\"" +
               HostWeb + "\"\r\n\"DoWeb\"=" + dword(unsigned(DoWeb)) + "\r\n\"C\"=" + dword(C) + "\r\n";
    }
};

} // namespace

class FormMainTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    std::unique_ptr<test::FixtureServer> Direct; // the WDDX host of the objects
    std::unique_ptr<test::FixtureServer> Proxy;  // stands in for an HTTP proxy
    QList<QUrl> Opened;

    std::string File() const { return Home->filePath(u"OrvelWddx/user.reg"_s).toStdString(); }
    void Store(const std::string& Text) const
    {
        QDir().mkpath(Home->filePath(u"OrvelWddx"_s));
        std::ofstream(File(), std::ios::binary) << Text;
    }
    std::string Stored() const
    {
        std::ifstream in(File(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void CloseQuery(TFormMain& Window) { QVERIFY(Window.FormCloseQuery()); }

    // Where a check of each object went: "direct", "proxy" or "" (nowhere).
    QString TarvikRoute(TFormMain& Window)
    {
        // The window's own question for the bank data's date (a CONNECT through the proxy under TLS) is over first.
        [&Window] { QTRY_VERIFY(!Child<QLabel>(Window, "LabelBankData")->text().isEmpty()); }();
        Direct->ClearRequests();
        Proxy->ClearRequests();
        Window.TarvikObject->TestCc(u"u", u"p", u"4111111111111111");
        if (!Direct->RequestLines().empty())
            return u"direct"_s;
        if (Proxy->RequestLines().empty())
            return QString();
        const std::vector<test::Request> requests = Proxy->Requests();
        const auto auth = requests.back().Headers.find("proxy-authorization");
        return u"proxy "_s + QString::fromStdString(requests.back().RequestLine) +
               (auth != requests.back().Headers.end() ? u" with "_s + QString::fromStdString(auth->second) : QString());
    }

public slots:
    // Stands in for the desktop's handler of the information page.
    void Open(const QUrl& Url) { Opened.push_back(Url); }

private slots:
    void initTestCase()
    {
        Server = std::make_unique<TComServer>(OrvelWddxTypeLibrary());
        RegisterClassFactories(*Server);
        QDesktopServices::setUrlHandler(u"file"_s, this, "Open");
        QDesktopServices::setUrlHandler(u"http"_s, this, "Open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QDesktopServices::unsetUrlHandler(u"http"_s);
    }

    void init()
    {
        Server->SetStartMode(TStartMode::Standalone);
        Home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", Home->path().toUtf8());
        Direct = std::make_unique<test::FixtureServer>();
        Proxy = std::make_unique<test::FixtureServer>();
        Direct->AnswerAlways(test::Reply::Ok("<wddxPacket/>"));
        Proxy->AnswerAlways(test::Reply::Ok("<wddxPacket/>"));
        qputenv("ORVELWDDX_HOST", QByteArray::fromStdString(Direct->HostPort()));
        qunsetenv("ORVELWDDX_WEB_HOST");
        qunsetenv("ORVELWDDX_INFO_URL");
    }
    void cleanup()
    {
        Direct.reset();
        Proxy.reset();
        Home.reset();
    }

    void sslMode_data()
    {
        QTest::addColumn<bool>("ssl");
        QTest::addColumn<bool>("ignore");
        QTest::addColumn<int>("mode");
        QTest::newRow("off") << false << false << 0;
        QTest::newRow("off, ignore ticked") << false << true << 0;
        QTest::newRow("enforced") << true << false << 1;
        QTest::newRow("any certificate") << true << true << 2;
    }
    void sslMode()
    {
        QFETCH(bool, ssl);
        QFETCH(bool, ignore);
        QFETCH(int, mode);
        QCOMPARE(SSLModeOf(ssl, ignore), mode);
    }

    void proxyPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("number") << u"8080"_s << 8080;
        QTest::newRow("letters") << u"80a"_s << 0;
        QTest::newRow("hexadecimal") << u"$1F"_s << 31;
    }
    void storedPortShown()
    {
        QCOMPARE(ProxyPortText(0), QString());
        QCOMPARE(ProxyPortText(3128), u"3128"_s);
    }
    void proxyPort()
    {
        QFETCH(QString, text);
        QFETCH(int, stored);
        QCOMPARE(ProxyPortValue(text), stored);
    }

    void portKeys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("passes");
        QTest::newRow("digit") << u"7"_s << 0 << true;
        QTest::newRow("Backspace") << u"\b"_s << 0 << true;
        QTest::newRow("letter") << u"a"_s << 0 << false;
        QTest::newRow("blank") << u" "_s << 0 << false;
        QTest::newRow("minus") << u"-"_s << 0 << false;
        QTest::newRow("another script's digit") << u"\u0663"_s << 0 << false;
        QTest::newRow("arrow key") << QString() << 0 << true;
        QTest::newRow("Ctrl+V") << u"v"_s << int(Qt::ControlModifier) << true;
    }
    void portKeys()
    {
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(bool, passes);
        QCOMPARE(ProxyPortKeyPasses(text, Qt::KeyboardModifiers(modifiers)), passes);
    }

    void defaultButton_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("button");
        QTest::newRow("account check tab") << int(TGroup::Tarvik) << 0 << int(TDefaultButton::Tarvik);
        QTest::newRow("search tab") << int(TGroup::Tarvik) << 1 << int(TDefaultButton::TarvikSearch);
        QTest::newRow("address, search tab shown") << int(TGroup::Address) << 1 << int(TDefaultButton::Address);
        QTest::newRow("VAT id") << int(TGroup::UStID) << 0 << int(TDefaultButton::UStID);
    }
    void defaultButton()
    {
        QFETCH(int, group);
        QFETCH(int, tab);
        QFETCH(int, button);
        QCOMPARE(int(DefaultButtonFor(TGroup(group), tab)), button);
    }

    void frameControls()
    {
        TFormMain window;
        QCOMPARE(window.objectName(), u"FormMain"_s);
        QCOMPARE(window.windowTitle(), u"OrvelWddx"_s);
        QCOMPARE(window.size(), QSize(615, 642));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);

        const std::vector<std::pair<const char*, QString>> groups = {
            {"GroupBoxProxy", u"Proxy-Server (leer lassen, wenn keiner verwendet werden soll)"_s},
            {"GroupBoxUserPass", u"Benutzerangaben für Wddx-Server"_s},
            {"GroupBoxOrvelWddx", u"OrvelWddx 3.2.2 / 06.01.2015"_s},
            {"GroupBoxTarvik", u"Tarvik"_s},
            {"RadioGroupLand", u"Land"_s},
            {"GroupBoxAddress", u"Address"_s},
            {"GroupBoxUStID",
             u"USt-ID (unabhängig von TARVIK - wird direkt auf dem Server der Europäischen Kommission geprüft!)"_s},
        };
        for (const auto& [name, title] : groups)
            QCOMPARE(Child<QGroupBox>(window, name)->title(), title);

        // Label, caption, the control it focuses, the accessible name a screen reader gets.
        const std::vector<std::tuple<const char*, QString, const char*>> labels = {
            {"LabelProxyHost", u"&Host:"_s, "EditProxyHost"},
            {"LabelProxyPort", u"Por&t:"_s, "EditProxyPort"},
            {"LabelProxyUser", u"Benutzernam&e:"_s, "EditProxyUser"},
            {"LabelProxyPass", u"Pass&wort:"_s, "EditProxyPass"},
            {"LabelUser", u"Ben&utzername:"_s, "EditUser"},
            {"LabelPass", u"&Passwort:"_s, "EditPass"},
        };
        for (const auto& [name, caption, buddy] : labels) {
            test::CheckLabel(window, name, caption, buddy);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(Edit(window, "EditProxyPort")->maxLength(), 5);
        QCOMPARE(Edit(window, "EditProxyPass")->echoMode(), QLineEdit::Password);
        QCOMPARE(Edit(window, "EditPass")->echoMode(), QLineEdit::Password);

        const std::vector<std::pair<const char*, QString>> buttons = {
            {"CheckBoxSSL", u"&Verschlüsselung TLS benutzen"_s},
            {"CheckBoxIgnoreInvalidCerts", u"Ung&ültige Zertifikate ignorieren"_s},
            {"RadioButtonDE", u"&DE"_s},
            {"RadioButtonAT", u"&AT"_s},
        };
        for (const auto& [name, caption] : buttons) {
            auto* button = Child<QAbstractButton>(window, name);
            QCOMPARE(button->text(), caption);
            QVERIFY(!button->isChecked() || QByteArray(name) == "RadioButtonDE");
        }
        QVERIFY(!Child<QCheckBox>(window, "CheckBoxIgnoreInvalidCerts")->isEnabled());

        auto* pages = Child<QTabWidget>(window, "PageControlTarvik");
        QCOMPARE(pages->count(), 2);
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(pages->widget(0)->objectName(), u"TabSheetTarvikPruefung"_s);
        QCOMPARE(pages->tabText(0), u"Prüfun&g"_s);
        QCOMPARE(pages->widget(1)->objectName(), u"TabSheetTarvikSuche"_s);
        QCOMPARE(pages->tabText(1), u"Su&che"_s);

        QCOMPARE(Child<QLabel>(window, "LabelOrvelWddx1")->text(),
                 u"Für Informationen zu\ndiesem Tool klicken\nSie bitte auf:"_s);
        auto* link = Child<QLabel>(window, "LabelOrvelWddx2");
        QVERIFY(link->font().underline());
        QCOMPARE(QAccessible::queryAccessibleInterface(link)->text(QAccessible::Name), u"Produktinformationen"_s);
        QCOMPARE(window.DefaultButton(), TDefaultButton::Tarvik);
    }

    void firstStart()
    {
        TFormMain window;
        QCOMPARE(Stored(), kHeader + "\r\n"); // the key is created at once
        for (const char* name :
             {"EditUser", "EditPass", "EditProxyHost", "EditProxyPort", "EditProxyUser", "EditProxyPass"})
            QCOMPARE(Edit(window, name)->text(), QString());
        QCOMPARE(window.CurrentSSLMode(), 0);
        QCOMPARE(window.LandText(), u"DE"_s);
        QVERIFY(!window.DoWeb);
        QVERIFY(window.TarvikObject && window.AddressObject && window.UStIDObject);
        QVERIFY(window.TarvikService && window.AddressService);
        QCOMPARE(window.TarvikObject->Host(), Widen(Direct->HostPort()));
        QCOMPARE(window.AddressObject->Host(), Widen(Direct->HostPort()));
        QCOMPARE(window.HostWeb, Direct->HostPort());
        QCOMPARE(TarvikRoute(window), u"direct"_s);

        CloseQuery(window);
        QVERIFY(!window.TarvikObject && !window.TarvikService && !window.AddressObject && !window.AddressService &&
                !window.UStIDObject);
        Written expected;
        expected.HostWddx = Direct->HostPort();
        expected.HostWeb = Direct->HostPort();
        QCOMPARE(Stored(), kHeader + expected.Values() + "\r\n");
    }

    void storedSettingsRoundTrip()
    {
        Written stored;
        stored.User = "J\xC3\xBCrgen \xC5\x81ukasz";
        stored.Pass = "p\\\"w";
        stored.SSL = 1;
        stored.IgnoreInvalidCerts = 1;
        stored.ProxyHost = "127.0.0.1";
        stored.ProxyPort = Proxy->Port();
        stored.ProxyUser = "pu";
        stored.ProxyPass = "pp";
        stored.HostWddx = Direct->HostPort();
        stored.HostWeb = "ws.local:8443";
        stored.DoWeb = 1;
        stored.C = 1;
        Store(kHeader + stored.Values());

        TFormMain window;
        QCOMPARE(Edit(window, "EditUser")->text(), u"Jürgen Łukasz"_s);
        QCOMPARE(Edit(window, "EditPass")->text(), u"p\"w"_s);
        QCOMPARE(window.CurrentSSLMode(), 2);
        QVERIFY(Child<QCheckBox>(window, "CheckBoxIgnoreInvalidCerts")->isEnabled());
        QCOMPARE(window.LandText(), u"AT"_s);
        QVERIFY(window.DoWeb);
        QCOMPARE(window.HostWeb, "ws.local:8443");
        const TServiceSettings service = window.ServiceSettings();
        QCOMPARE(service.HostWeb, "ws.local:8443");
        QVERIFY(service.SSL);
        QCOMPARE(service.ProxyPort, Widen(std::to_string(Proxy->Port())));
        // The stored proxy reached the objects while the fields were filled.
        const QString route = TarvikRoute(window);
        QVERIFY2(route.startsWith(u"proxy GET http://%1/tarvik?"_s.arg(QString::fromStdString(Direct->HostPort()))),
                 qPrintable(route));
        QVERIFY2(route.endsWith(u" with Basic cHU6cHA="_s), qPrintable(route));

        CloseQuery(window);
        QCOMPARE(Stored(), kHeader + stored.Values() + "\r\n");
    }

    void proxyForwardingFollowsEveryKeystroke()
    {
        qputenv("ORVELWDDX_VIES_URL", "http://vies.invalid/checkVatService");
        TFormMain window;
        qunsetenv("ORVELWDDX_VIES_URL");
        const QString target = u"http://%1/tarvik?"_s.arg(QString::fromStdString(Direct->HostPort()));

        QTest::keyClicks(Edit(window, "EditProxyHost"), u"127.0.0.1"_s);
        QCOMPARE(TarvikRoute(window), u"direct"_s); // a host without a port is no proxy
        const QString port = QString::number(Proxy->Port());
        QTest::keyClicks(Edit(window, "EditProxyPort"), port);
        QVERIFY2(TarvikRoute(window).startsWith(u"proxy GET "_s + target), qPrintable(TarvikRoute(window)));
        QVERIFY(!TarvikRoute(window).contains(u" with "_s));

        QTest::keyClicks(Edit(window, "EditProxyUser"), u"pu"_s);
        QTest::keyClicks(Edit(window, "EditProxyPass"), u"pp"_s);
        QVERIFY2(TarvikRoute(window).endsWith(u" with Basic cHU6cHA="_s), qPrintable(TarvikRoute(window)));

        // The address and VAT id objects carry the same proxy.
        Proxy->ClearRequests();
        window.AddressObject->Check(u"u", u"p", u"99999", u"Testort");
        window.UStIDObject->Check(u"DE123456789");
        const std::vector<std::string> lines = Proxy->RequestLines();
        QCOMPARE(lines.size(), size_t(2));
        QVERIFY2(lines[0].starts_with("GET http://" + Direct->HostPort() + "/"), lines[0].c_str());
        QCOMPARE(lines[1], "POST http://vies.invalid/checkVatService HTTP/1.1");

        // Emptying the port removes the proxy again.
        Edit(window, "EditProxyPort")->selectAll();
        QTest::keyClick(Edit(window, "EditProxyPort"), Qt::Key_Backspace);
        QCOMPARE(TarvikRoute(window), u"direct"_s);
    }

    void portFieldTakesDigitsAndEmptiesOnPastedText()
    {
        TFormMain window;
        QLineEdit* port = Edit(window, "EditProxyPort");
        QTest::keyClicks(port, u"8a0 8-0"_s);
        QCOMPARE(port->text(), u"8080"_s);
        QTest::keyClick(port, Qt::Key_Backspace);
        QCOMPARE(port->text(), u"808"_s);

        port->clear();
        QApplication::clipboard()->setText(u"12x"_s);
        QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(port->text(), QString());
        QApplication::clipboard()->setText(u"3128"_s);
        QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(port->text(), u"3128"_s);
    }

    void closingWithoutANumberWritesPort0()
    {
        Store(kHeader + "\"ProxyHost\"=\"proxy.local\"\r\n\"ProxyPort\"=dword:00000000\r\n");
        TFormMain window;
        QCOMPARE(Edit(window, "EditProxyPort")->text(), QString());
        QCOMPARE(TarvikRoute(window), u"direct"_s); // a stored port 0 sets no proxy
        Edit(window, "EditProxyPort")->setText(u"3128"_s);
        Edit(window, "EditProxyPort")->clear();
        CloseQuery(window);
        QVERIFY(Stored().find("\"ProxyPort\"=dword:00000000\r\n") != std::string::npos);
    }

    void tickedButDisabledIgnoreBox()
    {
        Store(kHeader + "\"SSL\"=dword:00000000\r\n\"IgnoreInvalidCerts\"=dword:00000001\r\n");
        TFormMain window;
        auto* ignore = Child<QCheckBox>(window, "CheckBoxIgnoreInvalidCerts");
        QVERIFY(!ignore->isEnabled());
        QVERIFY(ignore->isChecked());
        QCOMPARE(window.CurrentSSLMode(), 0);

        auto* ssl = Child<QCheckBox>(window, "CheckBoxSSL");
        ssl->click();
        QVERIFY(ignore->isEnabled());
        QCOMPARE(window.CurrentSSLMode(), 2);
        ssl->click();
        QVERIFY(!ignore->isEnabled());
        QVERIFY(ignore->isChecked());

        CloseQuery(window);
        const std::string stored = Stored();
        QVERIFY(stored.find("\"SSL\"=dword:00000000\r\n\"IgnoreInvalidCerts\"=dword:00000001\r\n") !=
                std::string::npos);
    }

    void emptyHostsFallBackToTheDefaults()
    {
        Store(kHeader + "\"HostWddx\"=\"\"\r\n\"HostWeb\"=\"\"\r\n");
        TFormMain window;
        QCOMPARE(window.TarvikObject->Host(), Widen(Direct->HostPort()));
        QCOMPARE(window.AddressObject->Host(), Widen(Direct->HostPort()));
        QCOMPARE(window.HostWeb, Direct->HostPort());
        CloseQuery(window);
        QVERIFY(Stored().find("\"HostWddx\"=\"" + Direct->HostPort() + "\"\r\n\"HostWeb\"=\"" + Direct->HostPort() +
                              "\"\r\n") != std::string::npos);
    }

    void country_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("land");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("DE") << QByteArray("dword:00000000") << u"DE"_s << QByteArray("dword:00000000");
        QTest::newRow("AT") << QByteArray("dword:00000001") << u"AT"_s << QByteArray("dword:00000001");
        QTest::newRow("above 1 is the last") << QByteArray("dword:00000007") << u"AT"_s << QByteArray("dword:00000001");
        QTest::newRow("negative selects none")
            << QByteArray("dword:ffffffff") << QString() << QByteArray("dword:ffffffff");
        QTest::newRow("a text is unreadable") << QByteArray("\"1\"") << u"DE"_s << QByteArray("dword:00000000");
    }
    void country()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, land);
        QFETCH(QByteArray, written);
        Store(kHeader + "\"C\"=" + stored.toStdString() + "\r\n");
        TFormMain window;
        QCOMPARE(window.LandText(), land);
        CloseQuery(window);
        QVERIFY(Stored().find("\"C\"=" + written.toStdString() + "\r\n") != std::string::npos);
    }

    void unreadableValuesFallBackOneByOne()
    {
        Store(kHeader + "\"User\"=dword:00000001\r\n\"Pass\"=\"secret\"\r\n\"SSL\"=\"1\"\r\n"
                        "\"IgnoreInvalidCerts\"=dword:00000001\r\n\"ProxyHost\"=hex:41\r\n\"ProxyPort\"=\"3128\"\r\n"
                        "\"ProxyUser\"=\"pu\"\r\n\"HostWddx\"=dword:00000001\r\n\"HostWeb\"=dword:00000001\r\n"
                        "\"DoWeb\"=\"1\"\r\n");
        TFormMain window;
        QCOMPARE(Edit(window, "EditUser")->text(), QString());
        QCOMPARE(Edit(window, "EditPass")->text(), u"secret"_s);
        QVERIFY(!Child<QCheckBox>(window, "CheckBoxSSL")->isChecked());
        QVERIFY(Child<QCheckBox>(window, "CheckBoxIgnoreInvalidCerts")->isChecked());
        QCOMPARE(Edit(window, "EditProxyHost")->text(), QString());
        QCOMPARE(Edit(window, "EditProxyPort")->text(), QString());
        QCOMPARE(Edit(window, "EditProxyUser")->text(), u"pu"_s);
        QCOMPARE(window.TarvikObject->Host(), Widen(Direct->HostPort()));
        QCOMPARE(window.HostWeb, Direct->HostPort());
        QVERIFY(!window.DoWeb);
    }

    void aFailedWriteEndsTheWritingSilently()
    {
        // A long proxy host that the window clears: written, the file would become shorter.
        const std::string longHost(2000, 'h');
        Store(kHeader + "\"User\"=\"u\"\r\n\"ProxyHost\"=\"" + longHost + "\"\r\n");
        const std::string before = Stored();
        TFormMain window;
        Edit(window, "EditUser")->setText(QString(3000, u'x'));
        Edit(window, "EditProxyHost")->clear();

        {
            // A disk with no room for a file larger than the one there now.
            test::ScopedFileSizeLimit full(before.size());
            CloseQuery(window);
        }
        QCOMPARE(Stored(), before);
        QCOMPARE(QDir(Home->filePath(u"OrvelWddx"_s)).entryList(QDir::Files), QStringList{u"user.reg"_s});
    }

    void aBrokenFileIsMovedAside()
    {
        Store("User=anna\r\n");
        TFormMain window;
        QCOMPARE(Edit(window, "EditUser")->text(), QString());
        const QStringList files = QDir(Home->filePath(u"OrvelWddx"_s)).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QCOMPARE(files[0], u"user.reg"_s);
        QVERIFY(files[1].startsWith(u"user.reg.broken-"_s));
        QFile aside(Home->filePath(u"OrvelWddx/"_s + files[1]));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("User=anna\r\n"));
    }

    void unknownValuesAndKeysAreKept()
    {
        Store(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"A\"=\"1\"\r\n\r\n" +
            kHeader.substr(kHeader.find('[')) + "\"Extra\"=hex(2):41,00,00,00\r\n\"User\"=\"anna\"\r\n");
        TFormMain window;
        CloseQuery(window);
        const std::string stored = Stored();
        QVERIFY(stored.find("[HKEY_CURRENT_USER\\Software\\Other]\r\n\"A\"=\"1\"\r\n") != std::string::npos);
        QVERIFY(stored.find("\"Extra\"=hex(2):41,00,00,00\r\n\"User\"=\"anna\"\r\n") != std::string::npos);
    }

    void keyThatCannotBeOpenedKeepsTheInitialTexts()
    {
        std::ofstream(Home->filePath(u"OrvelWddx"_s).toStdString()) << "a file where the folder belongs";
        TFormMain window;
        QCOMPARE(Edit(window, "EditUser")->text(), u"demo"_s);
        QCOMPARE(Edit(window, "EditPass")->text(), u"wexo"_s);
        QCOMPARE(window.HostWeb, Direct->HostPort()); // the web services follow the WDDX host
        QCOMPARE(window.LandText(), u"DE"_s);
        CloseQuery(window); // every write fails, without a message
    }

    void closingSavesThenAsksWhileClientsHoldObjects()
    {
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.TarvikObject->SetHost(u"wddx.example:81");
        QTest::keyClicks(Edit(window, "EditProxyHost"), u"127.0.0.1"_s);
        QTest::keyClicks(Edit(window, "EditProxyPort"), QString::number(Proxy->Port()));

        ITarvik held = CoTarvik::Create(); // a client's object
        bool asked = false;
        QStringList buttons;
        QTimer::singleShot(0, this, [&asked, &buttons] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = true;
                for (QAbstractButton* button : box->buttons())
                    buttons << button->text().remove(u'&');
                test::SaveScreenshot(*box, u"close-warning.png"_s);
                box->button(QMessageBox::No)->click();
            }
        });
        QVERIFY(!window.close());
        QVERIFY(asked);
        // Qt's standard buttons in the window's language.
        buttons.sort();
        QCOMPARE(buttons, QStringList({u"Ja"_s, u"Nein"_s}));
        const std::unique_ptr<QMenu> menu(Edit(window, "EditProxyHost")->createStandardContextMenu());
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->text().remove(u'&').section(u'\t', 0, 0);
        QVERIFY2(entries.contains(u"Kopieren"_s) && entries.contains(u"Alles auswählen"_s),
                 qPrintable(entries.join(u", "_s)));
        QVERIFY(Stored().find("\"HostWddx\"=\"wddx.example:81\"") != std::string::npos);
        // The window that stays keeps working: objects, proxies and settings as before.
        QVERIFY(window.isVisible());
        QVERIFY(window.TarvikObject && window.TarvikService && window.AddressObject && window.AddressService &&
                window.UStIDObject);
        QCOMPARE(window.TarvikObject->Host(), u"wddx.example:81");
        window.TarvikObject->SetHost(Widen(Direct->HostPort()));
        QVERIFY(TarvikRoute(window).startsWith(u"proxy GET "_s));

        held = ITarvik();
        asked = false;
        QVERIFY(window.close());
        QVERIFY(!asked);
        QVERIFY(!window.TarvikObject);
    }

    void automationStartBuildsTheWindowAtItsFirstShowAndNeverWrites()
    {
        Server->SetStartMode(TStartMode::Automation);
        Store(kHeader + "\"User\"=\"anna\"\r\n\"ProxyHost\"=\"127.0.0.1\"\r\n\"ProxyPort\"=dword:00000050\r\n");
        const std::string before = Stored();
        {
            TFormMain window;
            QVERIFY(!window.isVisible());
            // Nothing that only a shown window needs: no controls, panels or dialogs yet.
            QVERIFY(window.findChildren<QWidget*>().isEmpty());
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(window.size(), QSize(615, 642));
            QCOMPARE(Child<QGroupBox>(window, "GroupBoxTarvik")->title(), u"Tarvik"_s);
            test::SaveScreenshot(window, u"automation-first-show.png"_s);
            QCOMPARE(Edit(window, "EditUser")->text(), u"anna"_s);
            QCOMPARE(Edit(window, "EditProxyPort")->text(), u"80"_s);
            QVERIFY(!window.TarvikObject && !window.AddressObject && !window.UStIDObject);
            QVERIFY(!window.TarvikService && !window.AddressService);
            QCOMPARE(Server->ObjectCount(), 0);
        }
        QCOMPARE(Stored(), before);

        QFile::remove(QString::fromStdString(File()));
        {
            TFormMain window;
            window.show();
            QCOMPARE(Edit(window, "EditUser")->text(), u"demo"_s);
        }
        QVERIFY(!QFile::exists(QString::fromStdString(File())));
    }

    void enterStartsTheDefaultButtonOfTheGroupWithTheFocus()
    {
        TFormMain window;
        auto* search = Child<QPushButton>(window, "ButtonTarvikSearch");
        QSignalSpy clicked(search, &QPushButton::clicked);
        // The search's result window goes at once.
        QTimer closeResult;
        closeResult.setInterval(10);
        connect(&closeResult, &QTimer::timeout, this, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        closeResult.start();
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));

        Edit(window, "EditUser")->setFocus();
        Child<QTabWidget>(window, "PageControlTarvik")->setCurrentIndex(1);
        Child<QRadioButton>(window, "RadioButtonAT")->setFocus();
        QTRY_COMPARE(window.DefaultButton(), TDefaultButton::TarvikSearch);
        QVERIFY(search->isDefault());
        QTest::keyClick(Child<QRadioButton>(window, "RadioButtonAT"), Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        closeResult.stop();
        QApplication::setActiveWindow(&window); // what the desktop does when the result window goes
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // The access keys of the labels move the focus to their fields.
        QTest::keyClick(&window, Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), Edit(window, "EditProxyPort"));
        QTest::keyClick(&window, Qt::Key_U, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), Edit(window, "EditUser"));
    }

    void tabFollowsTheLayout()
    {
        TFormMain window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Edit(window, "EditProxyHost")->setFocus();
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            // The page control's tab row takes the focus for it.
            order << (qobject_cast<QTabBar*>(focus) ? focus->parentWidget()->objectName() : focus->objectName());
        }
        QCOMPARE(order, (QStringList{u"EditProxyHost"_s, u"EditProxyPort"_s, u"EditProxyUser"_s, u"EditProxyPass"_s,
                                     u"EditUser"_s, u"EditPass"_s, u"CheckBoxSSL"_s, u"LabelOrvelWddx2"_s,
                                     u"PageControlTarvik"_s, u"EditBlz"_s, u"EditKto"_s, u"ButtonTarvik"_s,
                                     u"RadioButtonDE"_s}));
    }

    void keyPreviewSeesEveryKeyOnce()
    {
        TFormMain window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy keys(&window, &TFormMain::FormKeyUp);
        Edit(window, "EditProxyHost")->setFocus();
        // F10, which opens nothing, then the two modifier keys.
        QTest::keyRelease(Edit(window, "EditProxyHost"), Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(keys.count(), 3);
        QCOMPARE(keys[0][0].toInt(), int(Qt::Key_F10));
        QCOMPARE(keys[0][1].value<Qt::KeyboardModifiers>(), Qt::ControlModifier | Qt::ShiftModifier);
    }

    void theHostOfTheSettingsIsTheOneEverythingUses()
    {
        // The variable names one host, the settings another: the saved one wins in the title, the checks and the
        // bank data's date.
        test::FixtureServer other;
        other.AnswerAlways(test::Reply::Ok("<wddxPacket/>"));
        other.SetStatusBody(R"({"bankDirectory": {"kind": "Bundesbank file", "validFrom": "2020-04-20"}})");
        Direct->SetStatusBody(test::FixtureServer::kServiceStatus);
        qputenv("ORVELWDDX_HOST", QByteArray::fromStdString(other.HostPort()));
        Store(kHeader + "\"HostWddx\"=\"" + Direct->HostPort() + "\"\r\n");
        TFormMain window;
        QCOMPARE(QGuiApplication::applicationDisplayName(),
                 u"COM-Interfaces für "_s + QString::fromStdString(Direct->HostPort()));
        QTRY_COMPARE(Child<QLabel>(window, "LabelBankData")->text(), u"Bankdaten gültig ab 07.09.2026"_s);
        QCOMPARE(TarvikRoute(window), u"direct"_s);
        QCOMPARE(window.HostWeb, Direct->HostPort());
        QVERIFY(other.RequestLines().empty());

        // A host changed in the internal settings is named and used at once.
        QTimer::singleShot(0, this, [&other] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            Edit(*dialog, "LabeledEditWddxHost")->setText(QString::fromStdString(other.HostPort()));
            dialog->accept();
        });
        window.ShowFormIntern();
        QCOMPARE(QGuiApplication::applicationDisplayName(),
                 u"COM-Interfaces für "_s + QString::fromStdString(other.HostPort()));
        QTRY_COMPARE(Child<QLabel>(window, "LabelBankData")->text(), u"Bankdaten gültig ab 20.04.2020"_s);
        window.TarvikObject->TestCc(u"u", u"p", u"4111111111111111");
        QCOMPARE(other.RequestLines().size(), size_t(1));
        QCOMPARE(window.HostWeb, other.HostPort());
    }

    void webHostFollowsTheWddxHost_data()
    {
        // "{wddx}" stands for the WDDX host at start, "{new}" for the one the internal settings set.
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("atStart");
        QTest::addColumn<QString>("typed"); // into the dialog's web-services field; empty: left as shown
        QTest::addColumn<QString>("afterDialog");
        QTest::newRow("fresh store") << QString() << QByteArray() << u"{wddx}"_s << QString() << u"{new}"_s;
        QTest::newRow("fresh store, variable set")
            << QString() << QByteArray("ws.env:8443") << u"ws.env:8443"_s << QString() << u"ws.env:8443"_s;
        QTest::newRow("stored as the WDDX host") << u"\"HostWddx\"=\"{wddx}\"\r\n\"HostWeb\"=\"{wddx}\"\r\n"_s
                                                 << QByteArray("ws.env:8443") << u"{wddx}"_s << QString() << u"{new}"_s;
        QTest::newRow("stored on its own") << u"\"HostWeb\"=\"ws.local:8443\"\r\n"_s << QByteArray()
                                           << u"ws.local:8443"_s << QString() << u"ws.local:8443"_s;
        QTest::newRow("set on its own in the dialog")
            << QString() << QByteArray() << u"{wddx}"_s << u"ws.own:81"_s << u"ws.own:81"_s;
        QTest::newRow("set back to the WDDX host")
            << u"\"HostWeb\"=\"ws.local:8443\"\r\n"_s << QByteArray() << u"ws.local:8443"_s << u"{new}"_s << u"{new}"_s;
    }
    void webHostFollowsTheWddxHost()
    {
        QFETCH(QString, stored);
        QFETCH(QByteArray, variable);
        QFETCH(QString, atStart);
        QFETCH(QString, typed);
        QFETCH(QString, afterDialog);
        const QString wddx = QString::fromStdString(Direct->HostPort());
        const QString changed = u"127.0.0.1:23999"_s;
        auto hosts = [&](QString text) { return text.replace(u"{wddx}"_s, wddx).replace(u"{new}"_s, changed); };
        qputenv("ORVELWDDX_WEB_HOST", variable);
        Store(kHeader + hosts(stored).toStdString());
        TFormMain window;
        QCOMPARE(QString::fromStdString(window.HostWeb), hosts(atStart));

        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            Edit(*dialog, "LabeledEditWddxHost")->setText(changed);
            if (!typed.isEmpty())
                Edit(*dialog, "LabeledEditWebHost")->setText(hosts(typed));
            dialog->accept();
        });
        window.ShowFormIntern();
        QCOMPARE(QString::fromStdString(window.HostWeb), hosts(afterDialog));
        QCOMPARE(QString::fromStdString(window.ServiceSettings().HostWeb), hosts(afterDialog));
    }

    void activateBringsTheWindowBack()
    {
        TFormMain window;
        TSingleWindow single(QDBusConnection::sessionBus());
        single.SetWindow(&window);
        window.showMinimized();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        single.Activate();
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        QTRY_VERIFY(window.isActiveWindow());
    }

    void informationLinkOpensTheReadme()
    {
        TFormMain window;
        auto* link = Child<QLabel>(window, "LabelOrvelWddx2");
        const QUrl readme(link->toolTip());
        QVERIFY2(readme.isLocalFile(), qPrintable(link->toolTip()));
        QFile file(readme.toLocalFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("# OrvelWddx\n"));
        Opened.clear();
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(Opened, QList<QUrl>{readme});

        // Installed, the program opens the README installed beside it.
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(u"bin"_s) && QDir(prefix.path()).mkpath(u"share/doc/orvelwddx"_s));
        QFile installed(prefix.filePath(u"share/doc/orvelwddx/README.md"_s));
        QVERIFY(installed.open(QIODevice::WriteOnly));
        installed.close();
        QCOMPARE(ReadmeFile(prefix.filePath(u"bin"_s)), QFileInfo(installed).canonicalFilePath());
        QCOMPARE(ReadmeFile(prefix.path()), readme.toLocalFile());
    }

    void informationLink()
    {
        qputenv("ORVELWDDX_INFO_URL", "http://127.0.0.1:1/info");
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* link = Child<QLabel>(window, "LabelOrvelWddx2");
        QCOMPARE(link->text(), u"http://127.0.0.1:1/info"_s);
        const QColor hotLight = QApplication::palette().color(QPalette::Link);
        QCOMPARE(link->palette().color(QPalette::WindowText), hotLight);
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(link, &enter);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(link, &leave);
        QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), hotLight);

        Opened.clear();
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::keyClick(link, Qt::Key_Return);
        QCOMPARE(Opened, (QList<QUrl>{QUrl(u"http://127.0.0.1:1/info"_s), QUrl(u"http://127.0.0.1:1/info"_s)}));
    }

    void errorsGoToTheMessageBoxAndTheCursorComesBack()
    {
        QString shown;
        QTimer::singleShot(0, this, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        Guarded(nullptr, [] {
            TWaitCursor wait;
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            throw Error("Zeit\xFC"
                        "berschreitung");
        });
        QCOMPARE(shown, u"Zeitüberschreitung"_s);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void aProofThatCannotBeWrittenFailsWithoutAQtWarning()
    {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& Message) { warnings << Message; });
        const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 WriteProofPdf(confirm::Record{}, Home->filePath(u"no/x.pdf"_s), "journal.sqlite"));
        QCOMPARE(warnings, QStringList());
        // A file that can be written gets its page as before.
        WriteProofPdf(confirm::Record{}, Home->filePath(u"x.pdf"_s), "journal.sqlite");
        QFile proof(Home->filePath(u"x.pdf"_s));
        QVERIFY(proof.open(QIODevice::ReadOnly));
        QVERIFY(proof.readAll().startsWith("%PDF-"));
        QCOMPARE(warnings, QStringList());
    }

    void bankDataDate_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QColor>("colour");
        const QColor normal = QApplication::palette().color(QPalette::WindowText);
        QTest::newRow("built-in")
            << QByteArray(test::FixtureServer::kServiceStatus) << u"Bankdaten gültig ab 07.09.2026"_s
            << u"Mitgelieferte Bankdaten: npm bankdata-germany 2.2602.0\n3507 Bankleitzahlen, 3075 BICs"_s << normal;
        QTest::newRow("old Bundesbank file")
            << QByteArray(R"({"bankDirectory": {"kind": "Bundesbank file", "validFrom": "2020-04-20",
                 "ageDays": 2426, "bankCodes": 3339, "bics": 3102}})")
            << u"Bankdaten gültig ab 20.04.2020\nälter als ein Jahr"_s
            << u"Bankleitzahlendatei der Deutschen Bundesbank\n3339 Bankleitzahlen, 3102 BICs"_s << QColor(Qt::red);
        QTest::newRow("superseded built-in data")
            << QByteArray(R"({"bankDirectory": {"kind": "built-in", "sources": "npm bankdata-germany 2.2602.0",
                 "validFrom": "2026-09-07", "validUntil": null, "fetchedAt": null, "superseded": true, "ageDays": 95,
                 "bankCodes": 3507, "bics": 3075, "bicFlagsFrom": "bank directory"},
                 "sclDirectory": null, "oenbDirectory": null})")
            << u"Bankdaten gültig ab 07.09.2026\nneuere Ausgabe verfügbar – Bankdaten aktualisieren"_s
            << u"Mitgelieferte Bankdaten: npm bankdata-germany 2.2602.0\n3507 Bankleitzahlen, 3075 BICs\n"
               u"SCL-Verzeichnis nicht installiert: SCT, SDD und B2B aus dem Bankverzeichnis\n"
               u"OeNB-Verzeichnis nicht installiert: österreichische BICs aus der mitgelieferten Tabelle"_s
            << kSupersededColour;
        QTest::newRow("official editions")
            << QByteArray(R"({"bankDirectory": {"kind": "Bundesbank file", "validFrom": "2026-12-07",
                 "validUntil": "2027-03-07", "fetchedAt": "2026-12-11T06:00:00+01:00", "superseded": false,
                 "ageDays": 4, "bankCodes": 3506, "bics": 3400},
                 "sclDirectory": {"validFrom": "2026-12-04", "validUntil": null, "fetchedAt": null,
                 "superseded": false, "bics": 4711},
                 "oenbDirectory": {"validFrom": "2026-12-10", "validUntil": null,
                 "fetchedAt": "2026-12-11T06:00:05+01:00", "superseded": false, "bankCodes": 870}})")
            << u"Bankdaten gültig ab 07.12.2026 bis 07.03.2027, geladen am 11.12.2026 06:00\n"
               u"SCL-Verzeichnis gültig ab 04.12.2026\nOeNB-Verzeichnis gültig ab 10.12.2026, geladen am 11.12.2026 06:00"_s
            << u"Bankleitzahlendatei der Deutschen Bundesbank\n3506 Bankleitzahlen, 3400 BICs\n"
               u"SCL-Verzeichnis der Bundesbank: 4711 BICs; Erreichbarkeit als Information, ohne Gewähr\n"
               u"SEPA-Verzeichnis der OeNB: 870 Bankleitzahlen"_s
            << normal;
        QTest::newRow("no /status") << QByteArray() << u"Bankdaten: Stand unbekannt"_s
                                    << u"Der Prüfdienst nennt den Stand seiner Bankdaten nicht (/status)."_s
                                    << QApplication::palette().color(QPalette::PlaceholderText);
        QTest::newRow("not JSON") << QByteArray("<html/>") << u"Bankdaten: Stand unbekannt"_s
                                  << u"Der Prüfdienst nennt den Stand seiner Bankdaten nicht (/status)."_s
                                  << QApplication::palette().color(QPalette::PlaceholderText);
    }
    void bankDataDate()
    {
        QFETCH(QByteArray, status);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QFETCH(QColor, colour);
        Direct->SetStatusBody(status.toStdString());
        TFormMain window;
        auto* label = Child<QLabel>(window, "LabelBankData");
        QTRY_COMPARE(label->text(), text);
        QCOMPARE(label->toolTip(), toolTip);
        QCOMPARE(label->palette().color(QPalette::WindowText), colour);
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        QVERIFY(Direct->RequestLines().empty());
    }

    void bankDataDateFollowsTheHostOfTheSettingsDialog()
    {
        TFormMain window;
        auto* label = Child<QLabel>(window, "LabelBankData");
        QTRY_COMPARE(label->text(), u"Bankdaten: Stand unbekannt"_s);

        // The real service with its built-in directory, named in the internal settings dialog.
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        test::LocalService service;
        QVERIFY2(!service.Host().isEmpty(), qPrintable(service.StartLog));
        QTimer::singleShot(0, this, [&service] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            Edit(*dialog, "LabeledEditWddxHost")->setText(service.Host());
            dialog->accept();
        });
        window.ShowFormIntern();
        // The built-in data is superseded 13 weeks after its start.
        QTRY_VERIFY2(
            label->text().contains(QRegularExpression(
                u"^Bankdaten gültig ab \\d\\d\\.\\d\\d\\.20\\d\\d(\nneuere Ausgabe verfügbar – Bankdaten aktualisieren)?$"_s)),
            qPrintable(label->text()));
        QVERIFY2(label->toolTip().startsWith(u"Mitgelieferte Bankdaten: npm bankdata-germany"_s),
                 qPrintable(label->toolTip()));
    }

    void screenshot()
    {
        Store(kHeader + "\"User\"=\"demo\"\r\n\"Pass\"=\"wexo\"\r\n");
        Direct->SetStatusBody(test::FixtureServer::kServiceStatus);
        qputenv("ORVELWDDX_INFO_URL", "https://www.orvel.de/produkte/orvelwddx");
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(!Child<QLabel>(window, "LabelBankData")->text().isEmpty());
        test::SaveScreenshot(window, u"main-window.png"_s);
    }

    // The orange line of superseded data fits the information area: wrapped, not cut off.
    void supersededScreenshot()
    {
        Direct->SetStatusBody(R"({"bankDirectory": {"kind": "built-in", "sources": "npm bankdata-germany 2.2602.0",
            "validFrom": "2026-09-07", "superseded": true, "ageDays": 95, "bankCodes": 3507, "bics": 3075},
            "sclDirectory": {"validFrom": "2026-12-04", "superseded": false, "bics": 4711}, "oenbDirectory": null})");
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* label = Child<QLabel>(window, "LabelBankData");
        QTRY_VERIFY(label->text().endsWith(u"Bankdaten aktualisieren"_s));
        QCOMPARE(label->palette().color(QPalette::WindowText), kSupersededColour);
        QApplication::processEvents();
        QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                 qPrintable(QString::number(label->height()) + u" < "_s +
                            QString::number(label->heightForWidth(label->width()))));
        QVERIFY(label->parentWidget()->rect().contains(label->geometry()));
        test::SaveScreenshot(window, u"bank-data-superseded.png"_s);
    }
};

} // namespace orvel

QTEST_MAIN(orvel::FormMainTest)
#include "FormMainTest.moc"
