#pragma once
// The window with the banks a search found: a heading and one line per bank.

#include <QDialog>

#include <memory>

namespace Ui {
class TFormSearchResult;
}

namespace orvel {

class TFormSearchResult : public QDialog
{
    Q_OBJECT

public:
    explicit TFormSearchResult(QWidget* Parent = nullptr);
    ~TFormSearchResult() override;

    void Clear();
    void SetLines(const QStringList& Lines);
    QString Text() const;
    // Modal: Enter or Ok accepts, Escape cancels. The focus is on Ok at the first showing and afterwards where the
    // user left it.
    int ShowModal();

private:
    std::unique_ptr<Ui::TFormSearchResult> FUi;
};

} // namespace orvel
