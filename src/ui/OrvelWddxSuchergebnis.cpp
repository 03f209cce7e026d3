#include "ui/OrvelWddxSuchergebnis.h"

#include "ui/OrvelUtils.h"
#include "ui_OrvelWddxSuchergebnis.h"

namespace orvel {

namespace {
constexpr int kWidth = 444;
constexpr int kHeight = 430;
} // namespace

TFormSearchResult::TFormSearchResult(QWidget* Parent) : QDialog(Parent), FUi(std::make_unique<Ui::TFormSearchResult>())
{
    FUi->setupUi(this);
    connect(FUi->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    resize(kWidth, kHeight);
    CentreOnScreen(*this);
    FUi->ButtonOk->setFocus();
}

TFormSearchResult::~TFormSearchResult() = default;

void TFormSearchResult::Clear()
{
    FUi->MemoSearchResult->clear();
}

void TFormSearchResult::SetLines(const QStringList& Lines)
{
    FUi->MemoSearchResult->setPlainText(Lines.join(u'\n'));
}

QString TFormSearchResult::Text() const
{
    return FUi->MemoSearchResult->toPlainText();
}

int TFormSearchResult::ShowModal()
{
    return exec();
}

} // namespace orvel
