#pragma once
// The window with the banks a search found: a heading and one line per bank. A line wider than the window ends in
// "…", and the whole line shows as the tooltip where the mouse rests on it.

#include <QDialog>
#include <QList>
#include <QStringList>

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
    // The lines in full, as the search gave them.
    QString Text() const;
    // Modal: Enter or Ok accepts, Escape cancels. The focus is on Ok at the first showing and afterwards where the
    // user left it.
    int ShowModal();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void ShowLines();

    std::unique_ptr<Ui::TFormSearchResult> FUi;
    QStringList FLines;
    QList<bool> FCut; // per line: shown shortened
};

} // namespace orvel
