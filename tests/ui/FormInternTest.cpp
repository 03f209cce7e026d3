// The internal settings window and the monitoring mode in the real window, offscreen, driven by the real timer
// against the WDDX fixture server and the web-services stand-in.

#include "server/OrvelWddx_TLB.h"
#include "support/FixtureServer.h"
#include "support/WebServiceServer.h"
#include "support/Wddx.h"
#include "support/Widgets.h"
#include "ui/FormInternUnit.h"
#include "ui/OrvelWddxFormMain.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

namespace {

// A Bundesbank record as the file writes it.
QByteArray Record(const QByteArray& Blz, const QByteArray& Name, const QByteArray& Bic, const QByteArray& Method)
{
    return Blz + "1" + Name.left(58).leftJustified(58, ' ') + "10100" + QByteArray("Berlin").leftJustified(35, ' ') +
           Name.left(27).leftJustified(27, ' ') + "12345" + Bic.leftJustified(11, ' ') + Method +
           "000001U000000000\r\n";
}

// A Bundesbank file with every bank code of the built-in data, so that installing it drops none.
QByteArray FullEdition()
{
    QFile builtIn(QString::fromLatin1(ORVEL_BUILT_IN_BANKS));
    if (!builtIn.open(QIODevice::ReadOnly))
        return {};
    QByteArray edition;
    QByteArray last;
    while (!builtIn.atEnd()) {
        const QList<QByteArray> fields = builtIn.readLine().chopped(1).split('\t');
        if (fields.size() < 6 || fields[0].startsWith('#') || !fields[2].isEmpty() || fields[0] == last)
            continue;
        last = fields[0];
        edition += Record(fields[0], QString::fromUtf8(fields[3]).toLatin1(), fields[4],
                          fields[5].isEmpty() ? "09" : fields[5]);
    }
    return edition;
}

} // namespace

class FormInternTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    std::unique_ptr<test::FixtureServer> Wddx;
    std::unique_ptr<test::WebServiceServer> Web;
    std::chrono::milliseconds TarvikDelay{0};

    std::unique_ptr<TFormMain> Window()
    {
        auto window = std::make_unique<TFormMain>();
        window->HostWeb = Web->Host();
        return window;
    }
    // Opens the dialog, lets Fill set it and confirms it (or cancels).
    static void Dialog(TFormMain& Window, const std::function<void(TFormIntern&)>& Fill, bool Ok = true)
    {
        QVERIFY(test::WhileModal<TFormIntern>([&] { Window.ShowFormIntern(); },
                                              [&](TFormIntern& form) {
                                                  Fill(form);
                                                  if (Ok)
                                                      Child<QPushButton>(form, "ButtonOk")->click();
                                                  else
                                                      form.reject();
                                              }));
    }
    std::vector<std::string> WddxPaths() const
    {
        std::vector<std::string> paths;
        for (const std::string& line : Wddx->RequestLines())
            paths.push_back(line.substr(4, line.find('?') - 4));
        return paths;
    }
    std::vector<std::string> WebOperations() const
    {
        std::vector<std::string> operations;
        for (const test::WebCall& call : Web->Calls())
            operations.push_back(call.Operation);
        return operations;
    }

private slots:
    void initTestCase()
    {
        Server = test::StandaloneServer();
    }
    void init()
    {
        Home = test::PrivateConfigHome();
        TarvikDelay = std::chrono::milliseconds(0);
        Wddx = std::make_unique<test::FixtureServer>([this](const test::Request& request) {
            if (request.RequestLine.starts_with("GET /tarvik"))
                std::this_thread::sleep_for(TarvikDelay);
            return test::Reply::Ok(test::WddxPacket({{"result", "0"}}));
        });
        Web = std::make_unique<test::WebServiceServer>();
        qputenv("ORVELWDDX_HOST", QByteArray::fromStdString(Wddx->HostPort()));
    }
    void cleanup()
    {
        Wddx.reset();
        Web.reset();
        Home.reset();
    }

    void interval_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("milliseconds"); // -1: refused
        QTest::newRow("empty is off") << QString() << 0;
        QTest::newRow("0") << u"0"_s << 0;
        QTest::newRow("30") << u"30"_s << 30000;
        QTest::newRow("blanks around") << u" 5 "_s << 5000;
        QTest::newRow("largest") << u"2147483"_s << 2147483000;
        QTest::newRow("one more") << u"2147484"_s << -1;
        QTest::newRow("32-bit wrap") << u"4294968"_s << -1;
        QTest::newRow("negative") << u"-1"_s << -1;
        QTest::newRow("not a number") << u"1x"_s << -1;
        QTest::newRow("fraction") << u"1.5"_s << -1;
    }
    void interval()
    {
        QFETCH(QString, text);
        QFETCH(int, milliseconds);
        const std::optional<uint32_t> parsed = IntervalOf(text);
        if (milliseconds < 0)
            QVERIFY(!parsed);
        else
            QCOMPARE(parsed, std::optional<uint32_t>(uint32_t(milliseconds)));
    }

    void keysAndCaptions()
    {
        const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        QVERIFY(IsInternKey(Qt::Key_F11, ctrlShift));
        QVERIFY(IsInternKey(Qt::Key_F11, ctrlShift | Qt::KeypadModifier));
        QVERIFY(!IsInternKey(Qt::Key_F11, ctrlShift | Qt::AltModifier));
        QVERIFY(!IsInternKey(Qt::Key_F11, Qt::ControlModifier));
        QVERIFY(!IsInternKey(Qt::Key_F10, ctrlShift));
        QCOMPARE(MonitorCaption(false, 3), u"OrvelWddx"_s);
        QCOMPARE(MonitorCaption(true, 0), u"OrvelWddx (Automatik-Modus)"_s);
        QCOMPARE(MonitorCaption(true, 12), u"OrvelWddx (Automatik-Modus, 12. Durchlauf)"_s);
    }

    void dialogAfterStart()
    {
        auto window = Window();
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QWidget* focus = QApplication::focusWidget();
        // With Alt as well the key does nothing.
        QVERIFY(!test::WhileModal<TFormIntern>(
            [&] { QTest::keyRelease(focus, Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier); },
            [](TFormIntern&) {}));
        QVERIFY(test::WhileModal<TFormIntern>(
            [&] { QTest::keyRelease(focus, Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier); },
            [&](TFormIntern& form) {
                QCOMPARE(form.windowTitle(), u"Interne Einstellungen"_s);
                QCOMPARE(form.LabeledEditWddxHost->text(), QString::fromStdString(Wddx->HostPort()));
                QCOMPARE(form.LabeledEditWebHost->text(), QString::fromStdString(Web->Host()));
                for (QCheckBox* box : {form.CheckBoxWddxTarvik, form.CheckBoxWddxAddress, form.CheckBoxWebTarvik,
                                       form.CheckBoxWebAddress, form.CheckBoxGlobalWeb})
                    QVERIFY(!box->isChecked());
                QCOMPARE(form.LabeledEditIntervall->text(), u"0"_s);
                QCOMPARE(form.LabeledEditId->text(), u"0"_s);
                QCOMPARE(form.LabeledEditName->text(), QString());
                QCOMPARE(form.focusWidget(), form.LabeledEditWddxHost);
                QCOMPARE(Child<QLabel>(form, "LabelIntervall")->text(), u"(0 = keine fortlaufende Prüfung)"_s);
                QCOMPARE(form.CheckBoxGlobalWeb->text(),
                         u"Im Hauptformular bei den Prüfbuttons &WebServices statt Wddx verwenden"_s);
                test::SaveScreenshot(form, u"intern.png"_s);
                // Cancel applies nothing, but Id and Name act at once.
                form.LabeledEditIntervall->setText(u"30"_s);
                form.CheckBoxGlobalWeb->setChecked(true);
                form.LabeledEditId->setText(u"42"_s);
                QTest::keyClick(&form, Qt::Key_Escape);
            }));
        QVERIFY(!window->Timer1->isActive());
        QVERIFY(!window->DoWeb);
        QCOMPARE(window->windowTitle(), u"OrvelWddx"_s);
        Child<QPushButton>(*window, "ButtonTarvik")->click();
        QVERIFY2(Wddx->LastTarget().find("&id=42&") != std::string::npos, Wddx->LastTarget().c_str());

        // OK applies the hosts and the switch.
        Dialog(*window, [](TFormIntern& form) {
            form.LabeledEditWddxHost->setText(u"wddx.example:1"_s);
            form.LabeledEditWebHost->setText(u"web.example:2"_s);
            form.CheckBoxGlobalWeb->setChecked(true);
        });
        QCOMPARE(window->TarvikObject->Host(), u"wddx.example:1");
        QCOMPARE(window->AddressObject->Host(), u"wddx.example:1");
        QCOMPARE(window->HostWeb, std::string("web.example:2"));
        QVERIFY(window->DoWeb);
    }

    void badIntervalKeepsTheDialog()
    {
        auto window = Window();
        Dialog(*window, [](TFormIntern& form) {
            for (const QString& bad : {u"-1"_s, u"abc"_s, u"4294968"_s}) {
                form.LabeledEditIntervall->setText(bad);
                Child<QPushButton>(form, "ButtonOk")->click();
                QVERIFY(form.isVisible());
                QVERIFY(Child<QLabel>(form, "LabelFehler")->isVisible());
                QCOMPARE(form.focusWidget(), form.LabeledEditIntervall);
            }
            form.LabeledEditIntervall->setText(u"0"_s);
            QVERIFY(!Child<QLabel>(form, "LabelFehler")->isVisible());
        });
        QVERIFY(!window->Timer1->isActive());
        QCOMPARE(window->windowTitle(), u"OrvelWddx"_s);
    }

    void passes()
    {
        auto window = Window();
        window->show();
        Dialog(*window, [](TFormIntern& form) {
            form.LabeledEditIntervall->setText(u"1"_s);
            form.CheckBoxWddxTarvik->setChecked(true);
            form.CheckBoxWebTarvik->setChecked(true);
            form.CheckBoxWddxAddress->setChecked(true);
            form.CheckBoxWebAddress->setChecked(true);
        });
        QVERIFY(window->Timer1->isActive());
        QCOMPARE(window->Timer1->interval(), 1000);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(window->PassCount, 1, 3000);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus, 1. Durchlauf)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(WebOperations().size(), size_t(2), 3000);
        QCOMPARE(WddxPaths(), (std::vector<std::string>{"/tarvik", "/address"}));
        QCOMPARE(WebOperations(), (std::vector<std::string>{"TestBlzKto", "CheckPlzOrtStr"}));
        QTRY_COMPARE_WITH_TIMEOUT(window->PassCount, 2, 3000);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus, 2. Durchlauf)"_s);

        // Cancel resumes with the count and the caption as they were; the interval field shows whole seconds.
        Dialog(
            *window,
            [](TFormIntern& form) {
                QCOMPARE(form.LabeledEditIntervall->text(), u"1"_s);
                QVERIFY(form.CheckBoxWebAddress->isChecked());
            },
            false);
        QVERIFY(window->Timer1->isActive());
        QCOMPARE(window->PassCount, 2);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus, 2. Durchlauf)"_s);

        // OK again restarts the count; the caption keeps the old pass until the next one.
        Dialog(*window, [](TFormIntern& form) {
            form.CheckBoxWddxTarvik->setChecked(false);
            form.CheckBoxWebTarvik->setChecked(false);
            form.CheckBoxWddxAddress->setChecked(false);
            form.CheckBoxWebAddress->setChecked(false);
        });
        QCOMPARE(window->PassCount, 0);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus, 2. Durchlauf)"_s);
        Wddx->ClearRequests();
        QTRY_COMPARE_WITH_TIMEOUT(window->PassCount, 1, 3000);
        QCOMPARE(window->windowTitle(), u"OrvelWddx (Automatik-Modus, 1. Durchlauf)"_s);
        QVERIFY(Wddx->RequestLines().empty()); // with no check chosen only the caption changes

        // 0 ends the mode.
        Dialog(*window, [](TFormIntern& form) { form.LabeledEditIntervall->setText(u"0"_s); });
        QVERIFY(!window->Timer1->isActive());
        QCOMPARE(window->windowTitle(), u"OrvelWddx"_s);
    }

    void errorEndsThePass()
    {
        auto window = Window();
        window->show();
        Web->SetFault("Wartung");
        Dialog(*window, [](TFormIntern& form) {
            form.LabeledEditIntervall->setText(u"1"_s);
            form.CheckBoxWebTarvik->setChecked(true);
            form.CheckBoxWddxAddress->setChecked(true);
        });
        QString shown;
        QVERIFY(test::WhileModal<QMessageBox>([&] { QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 3000); },
                                              [&](QMessageBox& box) { shown = box.text(); }));
        window->Timer1->stop();
        QVERIFY2(shown.contains(u"Wartung"_s), qPrintable(shown));
        QCOMPARE(window->PassCount, 1);
        QCOMPARE(WebOperations(), std::vector<std::string>{"TestBlzKto"});
        QVERIFY(Wddx->RequestLines().empty());
    }

    void duePassDuringAPassIsDropped()
    {
        // The account check takes longer than the interval; the pass falls due again at the address check's event
        // pass and is dropped there.
        TarvikDelay = std::chrono::milliseconds(1500);
        auto window = Window();
        window->show();
        Dialog(*window, [](TFormIntern& form) {
            form.LabeledEditIntervall->setText(u"1"_s);
            form.CheckBoxWddxTarvik->setChecked(true);
            form.CheckBoxWddxAddress->setChecked(true);
        });
        QTRY_COMPARE_WITH_TIMEOUT(Wddx->RequestLines().size(), size_t(2), 5000);
        window->Timer1->stop();
        QCOMPARE(window->PassCount, 1);
        QCOMPARE(WddxPaths(), (std::vector<std::string>{"/tarvik", "/address"}));
    }

    // The button hands the chosen file to the service's program; what it says reaches the user.
    void bankDataButtonInstallsOrRefuses()
    {
        qputenv("XDG_DATA_HOME", (Home->path() + u"/data"_s).toUtf8());
        const auto record = [](const char* method) { return Record("10012345", "Neue Testbank", "", method); };
        const struct
        {
            QString Name;
            QByteArray Text;
            QString Says;
        } cases[] = {
            {u"blz_20261201.txt"_s, record("09") + record("ZZ"), u":2: unknown check-digit method"_s},
            {u"blz_20261201.txt"_s, record("09"), u"nur 1 Bankleitzahlen"_s},
            {u"blz_20261201.txt"_s, FullEdition(), u"Die Bankdaten sind eingespielt"_s},
        };
        auto window = Window();
        for (const auto& entry : cases) {
            const QString path = Home->path() + u"/"_s + entry.Name;
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(entry.Text);
            file.close();
            QString said;
            Dialog(*window, [&](TFormIntern& form) {
                form.ServiceProgramPath = QString::fromLatin1(ORVEL_SERVICE_BINARY);
                form.ChooseBankFile = [&] { return path; };
                QVERIFY(test::WhileModal<QMessageBox>(
                    [&] { Child<QPushButton>(form, "ButtonBankdaten")->click(); },
                    [&](QMessageBox& box) {
                        said = box.text();
                        test::SaveScreenshot(box, u"bank-data-"_s + QString::number(&entry - cases) + u".png"_s);
                    }));
            });
            QVERIFY2(said.contains(entry.Says), qPrintable(said));
        }
        QVERIFY(QFile::exists(Home->path() + u"/data/OrvelWddx/blz_20261201.txt"_s));
        qunsetenv("XDG_DATA_HOME");
    }

    // "Bankdaten jetzt aktualisieren" runs the update against a stand-in of the three download addresses: the
    // progress shows while it runs, then one line per source, green when all went in and red when one failed.
    void updateButtonShowsProgressAndResult()
    {
        qputenv("XDG_DATA_HOME", (Home->path() + u"/data"_s).toUtf8());
        const QByteArray edition = FullEdition();
        const std::string link = "/resource/blob/602632/0123456789abcdef0123456789abcdef/mL/blz-aktuell-txt-data.txt";
        QByteArray scl = "Gueltig ab / valid from 07.12.2026;;;;;;\r\n"
                         "BIC;Name;SERVICE SCT;SERVICE COR;SERVICE COR1;SERVICE B2B;SERVICE SCC\r\n";
        QByteArray oenb = "SEPA-Verzeichnis-Abfrage vom 10.12.2026;;;\r\n"
                          "Kennzeichen;Identnummer;Bankleitzahl;Institutsart;Sektor;Firmenbuchnummer;Bankenname;"
                          "Stra\xDF" "e;PLZ;Ort;Postadresse / Stra\xDF" "e;Postadresse / PLZ;Postadresse / Ort;Postfach;"
                          "Bundesland;Telefon;Fax;E-Mail;SWIFT-Code;Homepage;Gr\xFC" "ndungsdatum;LEI\r\n";
        for (int i = 0; i < 600; ++i) {
            const QByteArray letters = QByteArray(1, char('A' + i / 26 % 26)) + char('A' + i % 26);
            scl += "BA" + letters + "FRPPXXX;Banque " + QByteArray::number(i) + ";1;1;0;0;1\r\n";
            if (i < 150)
                oenb += "Hauptanstalt;1;" + QByteArray::number(10000 + i) + ";Aktienbank;S;FN 1;Testbank " +
                        QByteArray::number(i) + ";Gasse 1;1010;Wien;;;;;Wien;;;;BA" + letters +
                        "ATWWXXX;;01.01.1900;\r\n";
        }
        std::atomic<bool> sclMissing = false;
        test::FixtureServer standIn([&](const test::Request& request) {
            const std::string path = request.RequestLine.substr(4, request.RequestLine.find(' ', 4) - 4);
            if (path == "/bundesbank")
                return test::Reply::Ok("<p>g&uuml;ltig vom 07.12.2026 bis 07.03.2027</p><a href=\"" + link +
                                       "\">TXT</a>");
            if (path == link)
                return test::Reply::Ok(edition.toStdString());
            if (path == "/scl" && !sclMissing)
                return test::Reply::Ok(scl.toStdString());
            if (path == "/oenb")
                return test::Reply::Ok(oenb.toStdString());
            return test::Reply::Status("HTTP/1.1 404 Not Found");
        });
        const std::string base = "http://" + standIn.HostPort();
        qputenv("ORVELWDDX_BUNDESBANK_URL", QByteArray::fromStdString(base + "/bundesbank"));
        qputenv("ORVELWDDX_SCL_URL", QByteArray::fromStdString(base + "/scl"));
        qputenv("ORVELWDDX_OENB_URL", QByteArray::fromStdString(base + "/oenb"));
        auto window = Window();
        for (const bool failing : {false, true}) {
            sclMissing = failing;
            Dialog(*window, [&](TFormIntern& form) {
                form.ServiceProgramPath = QString::fromLatin1(ORVEL_SERVICE_BINARY);
                auto* button = Child<QPushButton>(form, "ButtonUpdateData");
                auto* label = Child<QLabel>(form, "LabelUpdate");
                auto* progress = Child<QProgressBar>(form, "ProgressUpdate");
                QCOMPARE(button->text().remove(u'&'), u"Bankdaten jetzt aktualisieren"_s);
                QVERIFY(!progress->isVisible());
                button->click();
                QVERIFY(progress->isVisible());
                QVERIFY(!button->isEnabled());
                if (!failing)
                    test::SaveScreenshot(form, u"intern-updating.png"_s);
                QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 60000);
                QVERIFY(!progress->isVisible());
                const QString said = label->text();
                if (failing) {
                    QVERIFY2(said.contains(u"SCL-Directory der Bundesbank nicht aktualisiert: "_s +
                                           QString::fromStdString(base) + u"/scl: Antwort HTTP 404"_s),
                             qPrintable(said));
                    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
                } else {
                    QVERIFY2(said.count(u" installiert ("_s) == 3, qPrintable(said));
                    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 128, 0));
                    test::SaveScreenshot(form, u"intern-update.png"_s);
                }
            });
        }
        QVERIFY(QFile::exists(Home->path() + u"/data/OrvelWddx/blz_20261207.txt"_s));
        QVERIFY(QFile::exists(Home->path() + u"/data/OrvelWddx/scl_20261207.csv"_s));
        QVERIFY(QFile::exists(Home->path() + u"/data/OrvelWddx/oenb_20261210.csv"_s));
        for (const char* name : {"XDG_DATA_HOME", "ORVELWDDX_BUNDESBANK_URL", "ORVELWDDX_SCL_URL", "ORVELWDDX_OENB_URL"})
            qunsetenv(name);
    }
};

} // namespace orvel

QTEST_MAIN(orvel::FormInternTest)
#include "FormInternTest.moc"
