#include "ui/ElidingComboBox.h"

#include <QHelpEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>

namespace orvel {

namespace {

// The room the style's combo box label keeps on either side of its text.
constexpr int kHorizontalMargin = 1;

} // namespace

TElidingComboBox::TElidingComboBox(QWidget* Parent) : QComboBox(Parent) {}

QRect TElidingComboBox::TextArea() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
        .adjusted(kHorizontalMargin, 0, -kHorizontalMargin, 0);
}

bool TElidingComboBox::IsElided() const
{
    return fontMetrics().horizontalAdvance(currentText()) > TextArea().width();
}

bool TElidingComboBox::event(QEvent* Event)
{
    if (Event->type() == QEvent::ToolTip && IsElided()) {
        QToolTip::showText(static_cast<QHelpEvent*>(Event)->globalPos(), currentText(), this);
        return true;
    }
    return QComboBox::event(Event);
}

void TElidingComboBox::paintEvent(QPaintEvent* Event)
{
    if (isEditable() || !IsElided()) {
        QComboBox::paintEvent(Event);
        return;
    }
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, TextArea().width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

} // namespace orvel
