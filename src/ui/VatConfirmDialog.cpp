#include "ui/VatConfirmDialog.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "server/Confirmation.h"
#include "ui/OrvelUtils.h"
#include "ui_VatConfirmDialog.h"

#include <QFileDialog>

namespace orvel {

using namespace Qt::StringLiterals;

TConfirmVerdict ConfirmVerdictOf(confirm::Status Status, bool Qualified)
{
    switch (Status) {
    case confirm::Status::Valid:
        return Qualified ? TConfirmVerdict{u"Gültig"_s, QColor(0, 128, 0)}
                         : TConfirmVerdict{u"Gültig, nicht qualifiziert"_s, QColor(160, 90, 0)};
    case confirm::Status::Invalid:
        return {u"Ungültig"_s, QColor(255, 0, 0)};
    case confirm::Status::NotChecked:
        break;
    }
    return {u"Nicht geprüft"_s, QColor(160, 90, 0)};
}

TConfirmVerdict RefusedVerdict()
{
    return {u"Nicht gesendet"_s, QColor(160, 0, 0)};
}

void SaveProof(int64_t Id, const QString& File)
{
    // The journal and the PDF writer speak UTF-8; the error display reads Windows-1252.
    try {
        const confirm::Journal journal(confirm::Journal::DefaultPath());
        const std::optional<confirm::Record> record = journal.Find(Id);
        if (!record)
            throw std::runtime_error("Der Eintrag fehlt im Journal " + journal.Path());
        WriteProofPdf(*record, File, journal.Path());
    } catch (const std::runtime_error& error) {
        throw Error(Ansi(error.what()));
    }
}

TFormVatConfirm::TFormVatConfirm(QWidget* Parent) : QDialog(Parent), FUi(std::make_unique<Ui::TFormVatConfirm>())
{
    FUi->setupUi(this);
    QFont font = FUi->LabelStatus->font();
    font.setBold(true);
    font.setPixelSize(16);
    FUi->LabelStatus->setFont(font);
    // Room for the longest answer, so that no answer is cut off.
    const int answerWidth =
        FUi->LabelMatchName->fontMetrics().horizontalAdvance(MatchText(confirm::Service::Bzst, "D") + u"  "_s);
    for (QLabel* label : {FUi->LabelMatchName, FUi->LabelMatchStreet, FUi->LabelMatchZip, FUi->LabelMatchCity})
        label->setMinimumWidth(answerWidth);
    resize(std::max(width(), sizeHint().width()), height());
    ChooseProofFile = [this](const QString& Suggested) {
        return QFileDialog::getSaveFileName(this, u"Nachweis speichern"_s, Suggested, u"PDF-Dateien (*.pdf)"_s);
    };
    connect(FUi->ButtonConfirm, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { ButtonConfirmClick(); }); });
    connect(FUi->ButtonProof, &QPushButton::clicked, this, [this] { Guarded(this, [this] { ButtonProofClick(); }); });
    connect(FUi->ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    CentreOnScreen(*this);
}

TFormVatConfirm::~TFormVatConfirm() = default;

void TFormVatConfirm::Prepare(const QString& ForeignId, const QString& OwnId)
{
    FUi->EditForeignId->setText(ForeignId);
    FUi->EditOwnId->setText(OwnId);
    ShowAnswer({});
    FUi->LabelStatus->clear();
    FUi->LabelMessage->clear();
    FUi->LabelRequestId->clear();
}

QString TFormVatConfirm::OwnId() const
{
    return FUi->EditOwnId->text();
}

int TFormVatConfirm::ShowModal()
{
    (FUi->EditOwnId->text().isEmpty() ? static_cast<QWidget*>(FUi->EditOwnId) : FUi->ButtonConfirm)->setFocus();
    return exec();
}

void TFormVatConfirm::ButtonConfirmClick()
{
    const auto text = [](const QLineEdit* edit) { return edit->text().trimmed().toStdU16String(); };
    TCheckSettings options{{"OwnVatId", text(FUi->EditOwnId)},
                           {"Service", WideString(FUi->RadioBzst->isChecked() ? u"bzst" : u"vies")}};
    for (const auto& [name, edit] : {std::pair{"Name", FUi->EditName},
                                     {"Street", FUi->EditStreet},
                                     {"Zip", FUi->EditZip},
                                     {"City", FUi->EditCity}})
        if (!edit->text().trimmed().isEmpty())
            options.emplace_back(name, text(edit));
    TWaitCursor wait;
    ProcessPendingEvents();
    try {
        ShowAnswer(RunConfirm(FUi->EditForeignId->text().toStdString(), options));
    } catch (const confirm::JournalError& error) {
        // No proof, no answer: the person must not take it for a confirmation.
        ShowAnswer({});
        FUi->LabelStatus->setText(u"Nicht geprüft"_s);
        FUi->LabelMessage->setText(u"Bestätigung ohne Nachweis verworfen: "_s + QString::fromStdString(error.what()));
    } catch (const confirm::RequestRefused& error) {
        ShowAnswer({});
        ShowVerdict(RefusedVerdict());
        FUi->LabelMessage->setText(QString::fromStdString(error.what()));
    }
}

void TFormVatConfirm::ShowAnswer(const confirm::Answer& Answer)
{
    FJournalId = Answer.JournalId;
    ShowVerdict(ConfirmVerdictOf(Answer.Verdict, Answer.Qualified));
    FUi->LabelMessage->setText(QString::fromStdString(
        Answer.JournalNotice.empty() ? Answer.Message : Answer.Message + "\n" + Answer.JournalNotice));
    const QString id = QString::fromStdString(Answer.RequestId);
    FUi->LabelRequestId->setText(id.isEmpty()                           ? QString()
                                 : Answer.Via == confirm::Service::Bzst ? u"Kennung des BZSt: "_s + id
                                                                        : u"Konsultationsnummer: "_s + id);
    for (const auto& [field, label] : {std::pair{"Name", FUi->LabelMatchName},
                                       {"Street", FUi->LabelMatchStreet},
                                       {"Zip", FUi->LabelMatchZip},
                                       {"City", FUi->LabelMatchCity}}) {
        label->clear();
        for (const auto& [matched, code] : Answer.Matches)
            if (matched == field)
                label->setText(MatchText(Answer.Via, code));
    }
    FUi->ButtonProof->setEnabled(FJournalId > 0);
}

void TFormVatConfirm::ShowVerdict(const TConfirmVerdict& Verdict)
{
    FUi->LabelStatus->setText(Verdict.Text);
    QPalette palette = FUi->LabelStatus->palette();
    palette.setColor(QPalette::WindowText, Verdict.Colour);
    FUi->LabelStatus->setPalette(palette);
}

void TFormVatConfirm::ButtonProofClick()
{
    const QString file = ChooseProofFile(u"nachweis-"_s + QString::number(FJournalId) + u".pdf"_s);
    if (file.isEmpty())
        return;
    SaveProof(FJournalId, file);
}

} // namespace orvel
