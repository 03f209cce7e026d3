#include "ui/OrvelWddxUStIDInfo.h"

#include "ui/OrvelUtils.h"
#include "ui_OrvelWddxUStIDInfo.h"

namespace orvel {

TFormUStIDInfo::TFormUStIDInfo(QWidget* Parent) : QDialog(Parent), FUi(std::make_unique<Ui::TFormUStIDInfo>())
{
    FUi->setupUi(this);
    QFont font = FUi->LabelID->font();
    font.setBold(true);
    font.setPixelSize(24);
    FUi->LabelID->setFont(font);
    connect(FUi->ButtonSchliessen, &QPushButton::clicked, this, &QDialog::reject);
    connect(FUi->ButtonBestaetigung, &QPushButton::clicked, this, &TFormUStIDInfo::ConfirmRequested);
    CentreOnScreen(*this);
}

TFormUStIDInfo::~TFormUStIDInfo() = default;

void TFormUStIDInfo::SetInfo(const QString& Id, const QStringList& Lines)
{
    FUi->LabelID->setText(Id);
    FUi->MemoInfo->clear();
    for (const QString& line : Lines)
        FUi->MemoInfo->appendPlainText(line);
}

QString TFormUStIDInfo::Id() const
{
    return FUi->LabelID->text();
}

QStringList TFormUStIDInfo::Lines() const
{
    return FUi->MemoInfo->toPlainText().split(u'\n');
}

int TFormUStIDInfo::ShowModal()
{
    FUi->ButtonSchliessen->setFocus();
    return exec();
}

} // namespace orvel
