#pragma once
// The qualified confirmation of a VAT id for a person: own id, the foreign id with the details to compare, the
// service's answer per field, its consultation number or BZSt id, and the PDF proof of the journal record.

#include "confirm/Confirm.h"
#include "server/Confirmation.h"

#include <QColor>
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class TFormVatConfirm;
}

namespace orvel {

struct TConfirmVerdict
{
    QString Text;
    QColor Colour;
    bool operator==(const TConfirmVerdict&) const = default;
};
// The verdict's words and colour; a valid id that was not confirmed with name and place says so.
TConfirmVerdict ConfirmVerdictOf(confirm::Status Status, bool Qualified = true);
// A request refused before it was sent: nothing was asked, nothing journaled.
TConfirmVerdict RefusedVerdict();
// Writes the PDF proof of journal record Id to File; throws Error when there is no such record or no file.
void SaveProof(int64_t Id, const QString& File);

class TFormVatConfirm : public QDialog
{
    Q_OBJECT

public:
    explicit TFormVatConfirm(QWidget* Parent = nullptr);
    ~TFormVatConfirm() override;

    // Fills the ids and forgets the last answer.
    void Prepare(const QString& ForeignId, const QString& OwnId);
    QString OwnId() const;
    // Modal, with the focus on the first empty id or on Bestätigen.
    int ShowModal();

    void ButtonConfirmClick();
    void ButtonProofClick();

    // Asks where the proof goes; empty for no file. The window asks with a file dialog.
    std::function<QString(const QString& Suggested)> ChooseProofFile;

private:
    void ShowAnswer(const confirm::Answer& Answer);
    void ShowVerdict(const TConfirmVerdict& Verdict);

    std::unique_ptr<Ui::TFormVatConfirm> FUi;
    int64_t FJournalId = 0;
};

} // namespace orvel
