#pragma once
// A combo box that shows a selected item too long for it cut off with "…" and offers the whole item as its tooltip;
// its own tooltip (what the box is for) shows while the item fits. The drop-down list is not touched.

#include <QComboBox>

namespace orvel {

class TElidingComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit TElidingComboBox(QWidget* Parent = nullptr);

    // True when the selected item is wider than the box's text area.
    bool IsElided() const;

protected:
    bool event(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;

private:
    QRect TextArea() const;
};

} // namespace orvel
