// The qualified confirmation dialog, opened from the VAT id information window of the real window, offscreen,
// against the real orvelwddx-service's offline answers.

#include "ui/VatConfirmDialog.h"
#include "server/OrvelWddx_TLB.h"
#include "support/LocalService.h"
#include "support/Widgets.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/OrvelWddxUStIDInfo.h"
#include "ui/UStIDPanel.h"

#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

class VatConfirmDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    QTemporaryDir Data;
    std::unique_ptr<test::LocalService> Service;

private slots:
    void initTestCase()
    {
        Server = test::StandaloneServer();
        Home = test::PrivateConfigHome();
        qputenv("XDG_DATA_HOME", Data.path().toUtf8());
        Service = std::make_unique<test::LocalService>();
        QVERIFY2(!Service->Host().isEmpty(), qPrintable(Service->StartLog));
        const QByteArray base = "http://" + Service->Host().toLatin1();
        qputenv("ORVELWDDX_VIES_URL", base + "/taxation_customs/vies/services/checkVatService");
        qputenv("ORVELWDDX_BZST_URL", base + "/app/v1/abfrage");
    }
    void cleanupTestCase() { Service.reset(); }

    void texts()
    {
        using confirm::Service;
        QCOMPARE(MatchText(Service::Vies, "1"), u"stimmt überein"_s);
        QCOMPARE(MatchText(Service::Vies, "2"), u"stimmt nicht überein"_s);
        QCOMPARE(MatchText(Service::Vies, "3"), u"nicht geprüft"_s);
        QCOMPARE(MatchText(Service::Bzst, "A"), u"stimmt überein"_s);
        QCOMPARE(MatchText(Service::Bzst, "B"), u"stimmt nicht überein"_s);
        QCOMPARE(MatchText(Service::Bzst, "C"), u"nicht angefragt"_s);
        QCOMPARE(MatchText(Service::Bzst, "D"), u"vom Mitgliedstaat nicht mitgeteilt"_s);
        QCOMPARE(MatchText(Service::Bzst, "1"), u"Code 1"_s);
        QCOMPARE(MatchText(Service::Vies, ""), QString());
        QCOMPARE(ConfirmVerdictOf(confirm::Status::Valid), (TConfirmVerdict{u"Gültig"_s, QColor(0, 128, 0)}));
        QCOMPARE(ConfirmVerdictOf(confirm::Status::Invalid), (TConfirmVerdict{u"Ungültig"_s, QColor(255, 0, 0)}));
        QCOMPARE(ConfirmVerdictOf(confirm::Status::NotChecked),
                 (TConfirmVerdict{u"Nicht geprüft"_s, QColor(160, 90, 0)}));
        QCOMPARE(ConfirmVerdictOf(confirm::Status::Valid, false),
                 (TConfirmVerdict{u"Gültig, nicht qualifiziert"_s, QColor(160, 90, 0)}));
        QCOMPARE(RefusedVerdict(), (TConfirmVerdict{u"Nicht gesendet"_s, QColor(160, 0, 0)}));
    }

    void confirmFromTheInformationWindow()
    {
        const QString proof = Data.filePath(u"nachweis.pdf"_s);
        {
            TFormMain window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            Edit(window, "LabeledEditUStID")->setText(u"ATU13585627"_s);
            Child<QPushButton>(window, "ButtonUStID")->click();
            QPushButton* info = Child<QPushButton>(window, "ButtonUStIDInfo");
            QVERIFY(info->isVisible());

            TFormVatConfirm& dialog = window.PanelUStID().FormVatConfirm();
            dialog.ChooseProofFile = [&proof](const QString& Suggested) {
                [&] { QCOMPARE(Suggested, u"nachweis-2.pdf"_s); }(); // the refusals left no record
                return proof;
            };
            const auto label = [&dialog](const char* name) { return Child<QLabel>(dialog, name)->text(); };
            QVERIFY(test::WhileModal<TFormUStIDInfo>(
                [&] { info->click(); },
                [&](TFormUStIDInfo& shown) {
                    QPushButton* confirmButton = Child<QPushButton>(shown, "ButtonBestaetigung");
                    QCOMPARE(confirmButton->text(), u"&Qualifizierte Bestätigung…"_s);
                    test::SaveScreenshot(shown, u"ustid-info-confirm.png"_s);
                    QVERIFY(test::WhileModal<TFormVatConfirm>(
                        [&] { confirmButton->click(); },
                        [&](TFormVatConfirm&) {
                            QCOMPARE(Edit(dialog, "EditForeignId")->text(), u"ATU13585627"_s);
                            QCOMPARE(dialog.focusWidget(), Edit(dialog, "EditOwnId"));
                            QVERIFY(!Child<QPushButton>(dialog, "ButtonProof")->isEnabled());
                            // Without an own id, or with a wrong one, nothing is asked and nothing journaled.
                            for (const QString& own : {QString(), u"DE136695977"_s}) {
                                Edit(dialog, "EditOwnId")->setText(own);
                                Child<QPushButton>(dialog, "ButtonConfirm")->click();
                                QCOMPARE(label("LabelStatus"), u"Nicht gesendet"_s);
                                QVERIFY2(label("LabelMessage").startsWith(u"Die eigene USt-IdNr. "_s),
                                         qPrintable(label("LabelMessage")));
                                QVERIFY(!Child<QPushButton>(dialog, "ButtonProof")->isEnabled());
                            }
                            Edit(dialog, "EditOwnId")->setText(u"DE136695976"_s);
                            Child<QPushButton>(dialog, "ButtonConfirm")->click();
                            QCOMPARE(label("LabelStatus"), u"Gültig, nicht qualifiziert"_s);
                            QVERIFY2(label("LabelMessage").endsWith(u"keine qualifizierte Bestätigung."_s),
                                     qPrintable(label("LabelMessage")));
                            Edit(dialog, "EditName")->setText(u"Muster Handels GmbH"_s);
                            Edit(dialog, "EditCity")->setText(u"Wien"_s);
                            Child<QPushButton>(dialog, "ButtonConfirm")->click();
                            QCOMPARE(label("LabelStatus"), u"Gültig"_s);
                            QCOMPARE(label("LabelMessage"), u"Die USt-IdNr. ist gültig."_s);
                            QCOMPARE(label("LabelMatchName"), u"nicht geprüft"_s);
                            QCOMPARE(label("LabelMatchStreet"), QString());
                            QCOMPARE(label("LabelMatchCity"), u"nicht geprüft"_s);
                            QVERIFY2(label("LabelRequestId").startsWith(u"Konsultationsnummer: LOKAL"_s),
                                     qPrintable(label("LabelRequestId")));
                            test::SaveScreenshot(dialog, u"vat-confirm.png"_s);
                            Child<QPushButton>(dialog, "ButtonProof")->click();
                            QVERIFY(QFile(proof).size() > 1000);

                            Child<QRadioButton>(dialog, "RadioBzst")->setChecked(true);
                            Edit(dialog, "EditStreet")->setText(u"Kärntner Straße 1"_s);
                            Child<QPushButton>(dialog, "ButtonConfirm")->click();
                            QCOMPARE(label("LabelStatus"), u"Gültig"_s);
                            QCOMPARE(label("LabelMessage"),
                                     u"Die angefragte USt-IdNr. ist zum Anfragezeitpunkt gültig."_s);
                            QCOMPARE(label("LabelMatchStreet"), u"vom Mitgliedstaat nicht mitgeteilt"_s);
                            QCOMPARE(label("LabelMatchZip"), u"nicht angefragt"_s);
                            QVERIFY(label("LabelRequestId").startsWith(u"Kennung des BZSt: lokal-"_s));
                            test::SaveScreenshot(dialog, u"vat-confirm-bzst.png"_s);
                        }));
                }));
            QCOMPARE(window.OwnVatId, u"DE136695976"_s);
            window.close();
        }
        // The own id is kept for the next start.
        TFormMain again;
        QCOMPARE(again.OwnVatId, u"DE136695976"_s);

        QProcess text;
        text.start(u"pdftotext"_s, {proof, u"-"_s});
        QVERIFY(text.waitForFinished(30000));
        const QString shown = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(shown.contains(u"ATU13585627"_s) && shown.contains(u"gültig"_s) && shown.contains(u"LOKAL"_s),
                 qPrintable(shown));
    }
};

} // namespace orvel

QTEST_MAIN(orvel::VatConfirmDialogTest)
#include "VatConfirmDialogTest.moc"
