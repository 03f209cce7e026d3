#pragma once
// A line edit that shows a text too long for it cut off with "…" and offers the whole text as its tooltip, as long
// as it does not have the focus; with the focus it scrolls as any line edit, so the whole text can be read, selected
// and copied.

#include <QLineEdit>

namespace orvel {

class TElidingLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TElidingLineEdit(QWidget* Parent = nullptr);

    // True when the text is wider than the field's text area.
    bool IsElided() const;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    QRect TextArea() const;
    void UpdateToolTip();
};

} // namespace orvel
