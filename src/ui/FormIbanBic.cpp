#include "ui/FormIbanBic.h"

#include "ui/OrvelUtils.h"
#include "ui_FormIbanBic.h"

namespace orvel {

namespace {
constexpr int kClientWidth = 392;
constexpr int kClientHeight = 104;
} // namespace

TFormIbanBicAnzeigen::TFormIbanBicAnzeigen(QWidget* Parent)
    : QDialog(Parent), FUi(std::make_unique<Ui::TFormIbanBicAnzeigen>())
{
    FUi->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    connect(FUi->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    CentreOnScreen(*this);
}

TFormIbanBicAnzeigen::~TFormIbanBicAnzeigen() = default;

void TFormIbanBicAnzeigen::SetValues(const QString& Iban, const QString& Bic)
{
    FUi->LabeledEditIban->setText(Iban);
    FUi->LabeledEditBic->setText(Bic);
}

QString TFormIbanBicAnzeigen::Iban() const
{
    return FUi->LabeledEditIban->text();
}

QString TFormIbanBicAnzeigen::Bic() const
{
    return FUi->LabeledEditBic->text();
}

int TFormIbanBicAnzeigen::ShowModal()
{
    FUi->ButtonOk->setFocus();
    return exec();
}

} // namespace orvel
