#include "ui/OrvelWddxSuchergebnis.h"

#include "ui/OrvelUtils.h"
#include "ui_OrvelWddxSuchergebnis.h"

#include <QHelpEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

namespace orvel {

namespace {
constexpr int kWidth = 444;
constexpr int kHeight = 430;

// The width of a line as the text field lays it out, its TAB stops included.
qreal LineWidth(const QString& Line, const QFont& Font, const QTextOption& Option)
{
    QTextLayout layout(Line, Font);
    layout.setTextOption(Option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    return line.naturalTextWidth();
}

} // namespace

TFormSearchResult::TFormSearchResult(QWidget* Parent) : QDialog(Parent), FUi(std::make_unique<Ui::TFormSearchResult>())
{
    FUi->setupUi(this);
    connect(FUi->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    resize(kWidth, kHeight);
    CentreOnScreen(*this);
    FUi->ButtonOk->setFocus();
    FUi->MemoSearchResult->viewport()->installEventFilter(this);
}

TFormSearchResult::~TFormSearchResult() = default;

void TFormSearchResult::Clear()
{
    SetLines({});
}

void TFormSearchResult::SetLines(const QStringList& Lines)
{
    FLines = Lines;
    ShowLines();
}

QString TFormSearchResult::Text() const
{
    return FLines.join(u'\n');
}

void TFormSearchResult::ShowLines()
{
    QPlainTextEdit& memo = *FUi->MemoSearchResult;
    const QTextOption option = memo.document()->defaultTextOption();
    const qreal room = memo.viewport()->width() - 2 * memo.document()->documentMargin() - 1;
    const QString ellipsis = QStringLiteral("…");
    QStringList shown;
    FCut.clear();
    for (const QString& line : FLines) {
        const bool cut = LineWidth(line, memo.font(), option) > room;
        FCut.append(cut);
        if (!cut) {
            shown.append(line);
            continue;
        }
        // The longest start of the line that fits with the ellipsis.
        qsizetype fits = 0;
        for (qsizetype low = 0, high = line.size(); low <= high;) {
            const qsizetype middle = (low + high) / 2;
            if (LineWidth(line.left(middle) + ellipsis, memo.font(), option) <= room) {
                fits = middle;
                low = middle + 1;
            } else {
                high = middle - 1;
            }
        }
        shown.append(line.left(fits) + ellipsis);
    }
    memo.setPlainText(shown.join(u'\n'));
}

bool TFormSearchResult::eventFilter(QObject* Watched, QEvent* Event)
{
    QPlainTextEdit& memo = *FUi->MemoSearchResult;
    if (Watched == memo.viewport()) {
        if (Event->type() == QEvent::Resize) {
            ShowLines();
        } else if (Event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(Event);
            const QTextCursor at = memo.cursorForPosition(help->pos());
            const QRect row = memo.cursorRect(at);
            const int line = at.blockNumber();
            const bool onLine = help->pos().y() >= row.top() && help->pos().y() <= row.bottom();
            if (onLine && line < FCut.size() && FCut.at(line))
                QToolTip::showText(help->globalPos(), FLines.at(line), memo.viewport());
            else
                QToolTip::hideText();
            return true;
        }
    }
    return QDialog::eventFilter(Watched, Event);
}

int TFormSearchResult::ShowModal()
{
    return exec();
}

} // namespace orvel
