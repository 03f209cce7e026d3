// The journal window, opened from the VAT id panel of the real window, offscreen, over a journal of confirmations the
// real orvelwddx-service answered offline: the table and its filters, the proof, the check and the retry.

#include "ui/JournalDialog.h"
#include "confirm/Journal.h"
#include "server/Confirmation.h"
#include "server/OrvelWddx_TLB.h"
#include "support/LocalService.h"
#include "support/Widgets.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/UStIDPanel.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace orvel {

using test::Child;
using test::Edit;

class JournalDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TComServer> Server;
    std::unique_ptr<QTemporaryDir> Home;
    QTemporaryDir Data;
    std::unique_ptr<test::LocalService> Service;
    QByteArray ViesUrl;

    static void Confirm(const char* Id, std::vector<std::pair<std::string, std::string>> Details)
    {
        TCheckSettings options{{"OwnVatId", WideString(u"DE136695976")}, {"Tries", int32_t(1)}};
        for (const auto& [name, value] : Details)
            options.emplace_back(name, QString::fromStdString(value).toStdU16String());
        RunConfirm(Id, options);
    }

    // The results shown in the table, top to bottom.
    static QStringList Results(TFormJournal& Dialog)
    {
        const QAbstractItemModel* model = Child<QTableView>(Dialog, "TableRecords")->model();
        QStringList results;
        for (int row = 0; row < model->rowCount(); ++row)
            results << model->index(row, 2).data().toString() + u' ' + model->index(row, 3).data().toString();
        return results;
    }

private slots:
    void initTestCase()
    {
        Server = test::StandaloneServer();
        Home = test::PrivateConfigHome();
        qputenv("XDG_DATA_HOME", Data.path().toUtf8());
        Service = std::make_unique<test::LocalService>();
        QVERIFY2(!Service->Host().isEmpty(), qPrintable(Service->StartLog));
        ViesUrl = "http://" + Service->Host().toLatin1() + "/taxation_customs/vies/services/checkVatService";
        qputenv("ORVELWDDX_VIES_URL", ViesUrl);
        qputenv("ORVELWDDX_BZST_URL", "http://127.0.0.1:1/app/v1/abfrage");
        Confirm("ATU13585627", {{"Name", "Muster Handels GmbH"}, {"City", "Wien"}, {"Reference", "RE-2026-17"}});
        Confirm("ATU13585627", {});
        Confirm("DE200", {});
        // Nobody listens there: the confirmation stays unchecked and pending.
        qputenv("ORVELWDDX_VIES_URL", "http://127.0.0.1:1/taxation_customs/vies/services/checkVatService");
        Confirm("ATU13585627", {{"Name", "Müller & Söhne"}});
        qputenv("ORVELWDDX_VIES_URL", ViesUrl);
        QCOMPARE(confirm::Journal(confirm::Journal::DefaultPath()).Pending().size(), size_t(1));
    }
    void cleanupTestCase() { Service.reset(); }

    void tableFiltersAndActions()
    {
        TFormMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPushButton* open = Child<QPushButton>(window, "ButtonJournal");
        QVERIFY(open->isVisible());
        test::SaveScreenshot(window, u"main-journal-button.png"_s);
        TFormJournal& dialog = window.PanelUStID().FormJournal();
        const QString proof = Data.filePath(u"nachweis.pdf"_s);
        QString suggested;
        dialog.ChooseProofFile = [&](const QString& Suggested) {
            suggested = Suggested;
            return proof;
        };
        QVERIFY(test::WhileModal<TFormJournal>(
            [&] { open->click(); },
            [&](TFormJournal&) {
                QCOMPARE(Results(dialog),
                         (QStringList{u"ATU13585627 Gültig"_s, u"ATU13585627 Gültig, nicht qualifiziert"_s,
                                      u"DE200 Ungültig"_s, u"ATU13585627 Nicht geprüft"_s}));
                QCOMPARE(dialog.focusWidget(), Edit(dialog, "EditFilterId"));
                for (const char* field : {"EditFilterId", "DateFrom", "DateTo", "ComboResult"})
                    QVERIFY2(!Child<QWidget>(dialog, field)->accessibleName().isEmpty(), field);
                QCOMPARE(Edit(dialog, "EditFilterId")->accessibleName(), u"USt-IdNr.:"_s);
                test::SaveScreenshot(dialog, u"journal.png"_s);

                // Each filter alone, then none again.
                QComboBox* result = Child<QComboBox>(dialog, "ComboResult");
                const struct
                {
                    QString Result;
                    QStringList Shown;
                } byResult[] = {
                    {u"Gültig"_s, {u"ATU13585627 Gültig"_s}},
                    {u"Gültig, nicht qualifiziert"_s, {u"ATU13585627 Gültig, nicht qualifiziert"_s}},
                    {u"Ungültig"_s, {u"DE200 Ungültig"_s}},
                    {u"Nicht geprüft"_s, {u"ATU13585627 Nicht geprüft"_s}},
                };
                for (const auto& [choice, shown] : byResult) {
                    result->setCurrentText(choice);
                    QCOMPARE(Results(dialog), shown);
                }
                result->setCurrentIndex(0);
                Edit(dialog, "EditFilterId")->setText(u"de 200"_s);
                QCOMPARE(Results(dialog), QStringList{u"DE200 Ungültig"_s});
                Edit(dialog, "EditFilterId")->clear();
                QDateEdit* from = Child<QDateEdit>(dialog, "DateFrom");
                QDateEdit* to = Child<QDateEdit>(dialog, "DateTo");
                const QDate today = QDateTime::currentDateTimeUtc().date();
                from->setDate(today.addDays(1));
                QCOMPARE(Results(dialog).size(), 0);
                from->setDate(today);
                to->setDate(today);
                QCOMPARE(Results(dialog).size(), 4);
                to->setDate(today.addDays(-1));
                QCOMPARE(Results(dialog).size(), 0);
                from->setDate(from->minimumDate());
                to->setDate(to->minimumDate());

                // The proof of the selected record.
                Child<QTableView>(dialog, "TableRecords")->selectRow(2);
                Child<QPushButton>(dialog, "ButtonProof")->click();
                QCOMPARE(suggested, u"nachweis-3.pdf"_s);
                QVERIFY(QFile(proof).size() > 1000);
                // Enter on a record does the same.
                QTableView* table = Child<QTableView>(dialog, "TableRecords");
                table->setFocus();
                table->setCurrentIndex(table->model()->index(0, 0));
                QTest::keyClick(table, Qt::Key_Return);
                QCOMPARE(suggested, u"nachweis-1.pdf"_s);
                QCOMPARE(table->model()->index(0, 4).data().toString(), u"VIES"_s);

                Child<QPushButton>(dialog, "ButtonVerify")->click();
                QCOMPARE(Child<QLabel>(dialog, "LabelCheck")->text(),
                         u"Journal unverändert: 4 Einträge, Kette vollständig."_s);

                // The pending one is asked again, now that the service answers: a new record, nothing pending.
                Child<QPushButton>(dialog, "ButtonRetry")->click();
                QCOMPARE(Child<QLabel>(dialog, "LabelCheck")->text(), u"1 erneut angefragt, 0 weiterhin ausstehend."_s);
                QCOMPARE(Results(dialog).size(), 5);
                QCOMPARE(Results(dialog).last(), u"ATU13585627 Gültig, nicht qualifiziert"_s);
                const std::optional<confirm::Record> again = confirm::Journal(confirm::Journal::DefaultPath()).Find(5);
                QVERIFY(again);
                QCOMPARE(again->RetryOf, 4);
                QCOMPARE(again->Name, "Müller & Söhne");
                test::SaveScreenshot(dialog, u"journal-retried.png"_s);

                // Escape closes.
                QTest::keyClick(&dialog, Qt::Key_Escape);
                QVERIFY(!dialog.isVisible());
            }));
    }

    void tamperedRecordIsNamed()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"tamper"_s);
            db.setDatabaseName(QString::fromStdString(confirm::Journal::DefaultPath()));
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(u"DROP TRIGGER records_no_update"_s));
            QVERIFY(query.exec(u"UPDATE records SET status = 'valid' WHERE id = 3"_s));
            QVERIFY(query.exec(u"CREATE TRIGGER records_no_update BEFORE UPDATE ON records "
                               "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END"_s));
        }
        QSqlDatabase::removeDatabase(u"tamper"_s);
        TFormJournal dialog;
        QVERIFY(test::WhileModal<TFormJournal>(
            [&] { dialog.ShowModal(); },
            [&](TFormJournal&) {
                QCOMPARE(Results(dialog).at(2), u"DE200 Gültig, nicht qualifiziert"_s);
                Child<QPushButton>(dialog, "ButtonVerify")->click();
                const QString said = Child<QLabel>(dialog, "LabelCheck")->text();
                QVERIFY2(said.startsWith(u"Journal "_s) && said.contains(u" verändert: "_s) && said.contains(u'3'),
                         qPrintable(said));
                QCoreApplication::processEvents(); // the message takes its lines
                test::SaveScreenshot(dialog, u"journal-tampered.png"_s);
            }));
    }
};

} // namespace orvel

QTEST_MAIN(orvel::JournalDialogTest)
#include "JournalDialogTest.moc"
