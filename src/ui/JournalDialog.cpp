#include "ui/JournalDialog.h"

#include "confirm/Journal.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "server/Confirmation.h"
#include "ui/OrvelUtils.h"
#include "ui/VatConfirmDialog.h"
#include "ui_JournalDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

enum TColumn { ColId, ColTime, ColForeignId, ColResult, ColService, ColName, ColCity, ColReference, ColQualified };

// The records' result in the words and colours of the confirmation window; the time as a German reader writes it.
class TRecordModel : public QSqlQueryModel
{
public:
    using QSqlQueryModel::QSqlQueryModel;

    QVariant data(const QModelIndex& Index, int Role) const override
    {
        if (Index.column() == ColTime && Role == Qt::DisplayRole)
            return GermanTime(QSqlQueryModel::data(Index, Role).toString().toStdString());
        if (Index.column() == ColService && Role == Qt::DisplayRole)
            return QSqlQueryModel::data(Index, Role).toString() == u"bzst"_s ? u"BZSt"_s : u"VIES"_s;
        if (Index.column() != ColResult || (Role != Qt::DisplayRole && Role != Qt::ForegroundRole))
            return QSqlQueryModel::data(Index, Role);
        const TConfirmVerdict verdict =
            ConfirmVerdictOf(StatusOf(QSqlQueryModel::data(Index).toString()),
                             QSqlQueryModel::data(Index.siblingAtColumn(ColQualified)).toBool());
        return Role == Qt::DisplayRole ? QVariant(verdict.Text) : QVariant(verdict.Colour);
    }

private:
    static confirm::Status StatusOf(const QString& Stored)
    {
        return Stored == u"valid"_s     ? confirm::Status::Valid
               : Stored == u"invalid"_s ? confirm::Status::Invalid
                                        : confirm::Status::NotChecked;
    }
};

// The result filter's choices and the condition each puts on the records.
struct TResultChoice
{
    confirm::Status Status;
    bool Qualified;
    const char* Condition;
};
constexpr TResultChoice kResultChoices[] = {
    {confirm::Status::Valid, true, "status = 'valid' AND qualified"},
    {confirm::Status::Valid, false, "status = 'valid' AND NOT qualified"},
    {confirm::Status::Invalid, true, "status = 'invalid'"},
    {confirm::Status::NotChecked, true, "status NOT IN ('valid', 'invalid')"},
};

} // namespace

TFormJournal::TFormJournal(QWidget* Parent)
    : QDialog(Parent), FUi(std::make_unique<Ui::TFormJournal>()), FModel(new TRecordModel(this)),
      FConnection(u"journal-"_s + QString::number(reinterpret_cast<quintptr>(this)))
{
    FUi->setupUi(this);
    // An unset bound shows a dash: the earliest day the field knows stands for no bound.
    for (QDateEdit* date : {FUi->DateFrom, FUi->DateTo}) {
        date->setMinimumDate(QDate(2000, 1, 1));
        date->setSpecialValueText(u"–"_s);
        date->setDate(date->minimumDate());
    }
    FUi->ComboResult->addItem(u"Alle"_s, -1);
    for (size_t i = 0; i < std::size(kResultChoices); ++i)
        FUi->ComboResult->addItem(ConfirmVerdictOf(kResultChoices[i].Status, kResultChoices[i].Qualified).Text, int(i));
    for (QLabel* label : findChildren<QLabel*>())
        if (label->buddy())
            label->buddy()->setAccessibleName(label->text().remove(u'&'));
    FUi->TableRecords->setAccessibleName(u"Einträge"_s);
    FUi->LabelCheck->setTextFormat(Qt::PlainText);
    FUi->TableRecords->setModel(FModel);
    FUi->TableRecords->verticalHeader()->hide();
    FUi->TableRecords->horizontalHeader()->setStretchLastSection(true);
    ChooseProofFile = [this](const QString& Suggested) {
        return QFileDialog::getSaveFileName(this, u"Nachweis speichern"_s, Suggested, u"PDF-Dateien (*.pdf)"_s);
    };
    connect(FUi->EditFilterId, &QLineEdit::textChanged, this, [this] { Guarded(this, [this] { Reload(); }); });
    for (QDateEdit* date : {FUi->DateFrom, FUi->DateTo})
        connect(date, &QDateEdit::dateChanged, this, [this] { Guarded(this, [this] { Reload(); }); });
    connect(FUi->ComboResult, &QComboBox::currentIndexChanged, this, [this] { Guarded(this, [this] { Reload(); }); });
    connect(FUi->TableRecords, &QTableView::activated, this, [this] { Guarded(this, [this] { ButtonProofClick(); }); });
    connect(FUi->ButtonProof, &QPushButton::clicked, this, [this] { Guarded(this, [this] { ButtonProofClick(); }); });
    connect(FUi->ButtonVerify, &QPushButton::clicked, this, [this] { Guarded(this, [this] { ButtonVerifyClick(); }); });
    connect(FUi->ButtonRetry, &QPushButton::clicked, this, [this] { Guarded(this, [this] { ButtonRetryClick(); }); });
    connect(FUi->ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this] {
        FModel->clear();
        QSqlDatabase::database(FConnection, false).close();
    });
    CentreOnScreen(*this);
}

TFormJournal::~TFormJournal()
{
    FModel->clear();
    QSqlDatabase::removeDatabase(FConnection);
}

int TFormJournal::ShowModal()
{
    FUi->LabelCheck->clear();
    Reload();
    FUi->EditFilterId->setFocus();
    return exec();
}

void TFormJournal::Reload()
{
    if (!QSqlDatabase::contains(FConnection))
        QSqlDatabase::addDatabase(u"QSQLITE"_s, FConnection);
    QSqlDatabase db = QSqlDatabase::database(FConnection, false);
    const QString path = QString::fromStdString(confirm::Journal::DefaultPath());
    if (!db.isOpen()) {
        FModel->clear();
        // Opening a missing file read-only fails; there is simply nothing journaled yet.
        if (!QFile::exists(path)) {
            ShowCheck(u"Noch keine Einträge im Journal "_s + path, true);
            return;
        }
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        if (!db.open())
            throw Error(Ansi("Das Journal " + path.toStdString() +
                             " lässt sich nicht lesen: " + db.lastError().text().toStdString()));
    }
    QStringList conditions;
    const QString id = FUi->EditFilterId->text().remove(u' ').toUpper();
    if (!id.isEmpty())
        conditions << u"foreign_id = :id"_s;
    if (FUi->DateFrom->date() != FUi->DateFrom->minimumDate())
        conditions << u"time_utc >= :from"_s;
    if (FUi->DateTo->date() != FUi->DateTo->minimumDate())
        conditions << u"time_utc < :to"_s;
    if (const int choice = FUi->ComboResult->currentData().toInt(); choice >= 0)
        conditions << QLatin1String(kResultChoices[choice].Condition);
    QSqlQuery query(db);
    query.prepare(u"SELECT id, time_local, foreign_id, status, service, name, city, reference, qualified "
                  "FROM records"_s +
                  (conditions.isEmpty() ? QString() : u" WHERE "_s + conditions.join(u" AND "_s)) + u" ORDER BY id"_s);
    if (!id.isEmpty())
        query.bindValue(u":id"_s, id);
    query.bindValue(u":from"_s, FUi->DateFrom->date().toString(Qt::ISODate));
    query.bindValue(u":to"_s, FUi->DateTo->date().addDays(1).toString(Qt::ISODate));
    if (!query.exec())
        throw Error(Ansi("Das Journal " + path.toStdString() +
                         " lässt sich nicht lesen: " + query.lastError().text().toStdString()));
    FModel->setQuery(std::move(query));
    const char* headers[] = {"Nr.", "Zeit", "USt-IdNr.", "Ergebnis", "Dienst", "Firmenname", "Ort", "Referenz"};
    for (int column = 0; column < int(std::size(headers)); ++column)
        FModel->setHeaderData(column, Qt::Horizontal, QString::fromUtf8(headers[column]));
    FUi->TableRecords->hideColumn(ColQualified);
    FUi->TableRecords->resizeColumnsToContents();
    FUi->ButtonProof->setEnabled(FModel->rowCount() > 0);
    if (FModel->rowCount() > 0)
        FUi->TableRecords->selectRow(0);
}

int64_t TFormJournal::SelectedId() const
{
    const QModelIndex current = FUi->TableRecords->currentIndex();
    return current.isValid() ? FModel->data(current.siblingAtColumn(ColId)).toLongLong() : 0;
}

void TFormJournal::ShowCheck(const QString& Text, bool Ok)
{
    FUi->LabelCheck->setText(Text);
    QPalette palette = FUi->LabelCheck->palette();
    palette.setColor(QPalette::WindowText, Ok ? palette.color(QPalette::Text) : QColor(255, 0, 0));
    FUi->LabelCheck->setPalette(palette);
}

void TFormJournal::ButtonProofClick()
{
    const int64_t id = SelectedId();
    if (id == 0)
        return;
    const QString file = ChooseProofFile(u"nachweis-"_s + QString::number(id) + u".pdf"_s);
    if (file.isEmpty())
        return;
    SaveProof(id, file);
}

void TFormJournal::ButtonVerifyClick()
{
    TWaitCursor wait;
    try {
        const confirm::Journal journal(confirm::Journal::DefaultPath());
        const confirm::ChainCheck check = CheckJournal(journal);
        if (check.Ok)
            ShowCheck(u"Journal unverändert: %1 Einträge, Kette vollständig."_s.arg(journal.Read({}).size()), true);
        else
            ShowCheck(u"Journal %1 verändert: %2"_s.arg(QString::fromStdString(journal.Path()),
                                                        QString::fromStdString(check.Reason)),
                      false);
    } catch (const std::runtime_error& error) {
        throw Error(Ansi(error.what()));
    }
}

void TFormJournal::ButtonRetryClick()
{
    TWaitCursor wait;
    ProcessPendingEvents();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int asked = 0;
    int still = 0;
    try {
        // Each answer opens the journal to write; it must not be held here meanwhile.
        const std::vector<confirm::Record> pending = confirm::Journal(confirm::Journal::DefaultPath()).Pending();
        for (const confirm::Record& record : pending) {
            if (record.Service == "bzst" && InBzstMaintenance(now)) {
                ++still;
                continue;
            }
            const confirm::Answer answer = RunConfirm(record.ForeignId, RetryOptions(record, {}), record.Id);
            ++asked;
            if (answer.Verdict == confirm::Status::NotChecked)
                ++still;
        }
    } catch (const std::runtime_error& error) {
        Reload();
        throw Error(Ansi(error.what()));
    }
    Reload();
    ShowCheck(u"%1 erneut angefragt, %2 weiterhin ausstehend."_s.arg(asked).arg(still), still == 0);
}

} // namespace orvel
