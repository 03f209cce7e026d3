#include "ui/UStIDPanel.h"

#include "platform/Error.h"
#include "ui/JournalDialog.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/OrvelWddxUStIDInfo.h"
#include "ui/VatConfirmDialog.h"
#include "ui_UStIDPanel.h"

#include <QGroupBox>
#include <QLayout>
#include <QUrl>

namespace orvel {

using namespace Qt::StringLiterals;

QStringList SplitPieces(const QString& Text)
{
    QStringList pieces;
    QString piece;
    QChar quote;
    for (const QChar c : Text) {
        if (!quote.isNull()) {
            piece += c;
            if (c == quote)
                quote = QChar();
        } else if (c == u'~' || c == u'\r' || c == u'\n') {
            if (!piece.isEmpty())
                pieces.append(piece);
            piece.clear();
        } else {
            if (c == u'\'' || c == u'"')
                quote = c;
            piece += c;
        }
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    return pieces;
}

TVerdict VerdictOf(int32_t Result, const QString& ViesUrl, const QString& Resulttext)
{
    // VIES's answer has its country, number, date and verdict as pieces; anything else is the reason of a refusal.
    if (Result == 1 && !Resulttext.isEmpty() && SplitPieces(Resulttext).size() < 4)
        return {u"Ungültig – "_s + Resulttext.section(u':', 0, 0), QColor(255, 0, 0), Resulttext};
    const bool commission = QUrl(ViesUrl).host().compare(u"ec.europa.eu"_s, Qt::CaseInsensitive) == 0;
    const QString source = commission ? QString() : u" – nur Aufbau und Prüfziffer (lokaler Dienst)"_s;
    switch (Result) {
    case 0:
        return {u"Gültig"_s + source, QColor(0, 128, 0), QString()};
    case 1:
        return {u"Ungültig"_s + source, QColor(255, 0, 0), QString()};
    case 2:
        return {u"Fehler"_s, QColor(128, 0, 0), QString()};
    default:
        return {u"Interner Fehler"_s, QColor(128, 0, 0), QString()};
    }
}

QStringList InfoLines(const QString& Resulttext)
{
    const QStringList pieces = SplitPieces(Resulttext);
    return pieces.size() >= 5 ? pieces.mid(4) : QStringList();
}

TPanelUStID::TPanelUStID(TFormMain& Host, QGroupBox& Group)
    : QWidget(&Group), FUi(std::make_unique<Ui::TPanelUStID>()), FHost(Host), FFormUStIDInfo(new TFormUStIDInfo(&Host)),
      FFormVatConfirm(new TFormVatConfirm(&Host)), FFormJournal(new TFormJournal(&Host))
{
    FUi->setupUi(this);
    Group.layout()->setContentsMargins(0, 0, 0, 0);
    Group.layout()->addWidget(this);
    QFont font = FUi->LabelUStID->font();
    font.setBold(true);
    font.setPixelSize(16);
    FUi->LabelUStID->setFont(font);
    // The verdict's line keeps its place while hidden, so the window does not shift with every check.
    QSizePolicy keep = FUi->LabelUStID->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    FUi->LabelUStID->setSizePolicy(keep);
    FUi->LabelUStID->hide();
    FUi->ButtonUStIDInfo->hide();

    connect(FUi->ButtonUStID, &QPushButton::clicked, this, [this] { Guarded(&FHost, [this] { ButtonUStIDClick(); }); });
    connect(FUi->ButtonUStIDInfo, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { ButtonUStIDInfoClick(); }); });
    connect(FUi->ButtonJournal, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { FFormJournal->ShowModal(); }); });
    connect(FFormUStIDInfo, &TFormUStIDInfo::ConfirmRequested, this,
            [this] { Guarded(FFormUStIDInfo, [this] { ConfirmClick(); }); });
    connect(FUi->LabeledEditUStID, &QLineEdit::textChanged, this,
            [this] { Guarded(&FHost, [this] { LabeledEditUStIDChange(); }); });
    connect(FUi->LabeledEditUStID, &QLineEdit::textEdited, this, [this] { Guarded(&FHost, [this] { UpperCase(); }); });
}

TPanelUStID::~TPanelUStID() = default;

void TPanelUStID::ButtonUStIDClick()
{
    const TFinally done([this] {
        FUi->LabelUStID->show();
        FUi->LabeledEditUStID->setFocus();
        FUi->LabeledEditUStID->selectAll();
    });
    TWaitCursor wait;
    ProcessPendingEvents();
    if (!FHost.UStIDObject)
        throw Error("Kein Pr\xFC" "fobjekt vorhanden");
    const IUStID& ustid = FHost.UStIDObject;
    ustid->Check(FUi->LabeledEditUStID->text().toStdU16String());
    const int32_t result = ustid->Result();
    const QString text = QString::fromStdU16String(ustid->Resulttext());
    const TVerdict verdict = VerdictOf(result, QString::fromStdString(ustid->Url()), text);
    FUi->LabelUStID->setText(verdict.Text);
    FUi->LabelUStID->setToolTip(verdict.ToolTip);
    QPalette palette = FUi->LabelUStID->palette();
    palette.setColor(QPalette::WindowText, verdict.Colour);
    FUi->LabelUStID->setPalette(palette);
    if (result == 1)
        return;
    if (result != 0) {
        FUi->LabeledEditUStID->setText(text);
        return;
    }
    const QStringList lines = InfoLines(text);
    if (!lines.isEmpty())
        FFormUStIDInfo->SetInfo(FUi->LabeledEditUStID->text(), lines);
    FUi->ButtonUStIDInfo->setVisible(!lines.isEmpty());
}

void TPanelUStID::UpperCase()
{
    // Only what the user types: an error message the check puts into the field stays as it came.
    QLineEdit& edit = *FUi->LabeledEditUStID;
    const QString upper = edit.text().toUpper();
    if (upper != edit.text()) {
        const int caret = edit.cursorPosition();
        const QSignalBlocker quiet(&edit);
        edit.setText(upper);
        edit.setCursorPosition(caret);
    }
}

void TPanelUStID::LabeledEditUStIDChange()
{
    FUi->LabelUStID->hide();
    FUi->ButtonUStIDInfo->hide();
}

void TPanelUStID::ButtonUStIDInfoClick()
{
    FFormUStIDInfo->ShowModal();
}

void TPanelUStID::ConfirmClick()
{
    FFormVatConfirm->Prepare(FFormUStIDInfo->Id(), FHost.OwnVatId);
    FFormVatConfirm->ShowModal();
    FHost.OwnVatId = FFormVatConfirm->OwnId();
}

} // namespace orvel
