#pragma once
// The VAT id group: the id, its check through the window's own VIES object, the verdict and the trader's details in
// the information window.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class QGroupBox;

namespace Ui {
class TPanelUStID;
}

namespace orvel {

class TFormMain;
class TFormUStIDInfo;
class TFormJournal;
class TFormVatConfirm;

// The pieces of a result text: split at "~", CR and LF outside quoted runs (' or "), line breaks at the start of a
// piece skipped, empty pieces dropped.
QStringList SplitPieces(const QString& Text);

struct TVerdict
{
    QString Text;
    QColor Colour;
    QString ToolTip;
    bool operator==(const TVerdict&) const = default;
};
// The verdict for a check's Result. Where the VIES address ViesUrl is not the European Commission's, the local
// service answered from the number's form and check digits alone, and a verdict says so. An invalid id whose
// Resulttext is a reason rather than VIES's answer was refused without asking: the verdict names the reason's
// head and the tooltip holds the whole reason.
TVerdict VerdictOf(int32_t Result, const QString& ViesUrl, const QString& Resulttext);
// The lines for the information window: the pieces after the first four; empty when there are fewer than five.
QStringList InfoLines(const QString& Resulttext);

class TPanelUStID : public QWidget
{
    Q_OBJECT

public:
    TPanelUStID(TFormMain& Host, QGroupBox& Group);
    ~TPanelUStID() override;

    void ButtonUStIDClick();
    void LabeledEditUStIDChange();
    void ButtonUStIDInfoClick();
    TFormUStIDInfo& FormUStIDInfo() const { return *FFormUStIDInfo; }
    // Opens the qualified confirmation for the id of the information window, with the own id of the settings.
    void ConfirmClick();
    TFormVatConfirm& FormVatConfirm() const { return *FFormVatConfirm; }
    TFormJournal& FormJournal() const { return *FFormJournal; }

private:
    void UpperCase();

    std::unique_ptr<Ui::TPanelUStID> FUi;
    TFormMain& FHost;
    TFormUStIDInfo* FFormUStIDInfo;   // a window of its own over the main window, which owns it
    TFormVatConfirm* FFormVatConfirm; // likewise
    TFormJournal* FFormJournal;       // likewise
};

} // namespace orvel
