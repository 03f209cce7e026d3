#include "ui/ElidingLineEdit.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace orvel {

namespace {

// The room QLineEdit keeps between its contents rectangle and its text.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

} // namespace

TElidingLineEdit::TElidingLineEdit(QWidget* Parent) : QLineEdit(Parent)
{
    connect(this, &QLineEdit::textChanged, this, &TElidingLineEdit::UpdateToolTip);
}

QRect TElidingLineEdit::TextArea() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
        .marginsRemoved(textMargins())
        .adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

bool TElidingLineEdit::IsElided() const
{
    return fontMetrics().horizontalAdvance(displayText()) > TextArea().width();
}

void TElidingLineEdit::paintEvent(QPaintEvent* Event)
{
    if (hasFocus() || !IsElided()) {
        QLineEdit::paintEvent(Event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    const QRect area = TextArea();
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(displayText(), Qt::ElideRight, area.width()));
}

void TElidingLineEdit::resizeEvent(QResizeEvent* Event)
{
    QLineEdit::resizeEvent(Event);
    UpdateToolTip();
}

void TElidingLineEdit::UpdateToolTip()
{
    setToolTip(IsElided() ? text() : QString());
}

} // namespace orvel
