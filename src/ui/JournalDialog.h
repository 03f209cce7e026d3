#pragma once
// The journal of confirmations as a table, read-only, with filters by id, day and result; the PDF proof of a record,
// the journal's check and the pending confirmations asked again.

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QSqlQueryModel;

namespace Ui {
class TFormJournal;
}

namespace orvel {

class TFormJournal : public QDialog
{
    Q_OBJECT

public:
    explicit TFormJournal(QWidget* Parent = nullptr);
    ~TFormJournal() override;

    // Modal, with the records of the user's journal; the file is only read while the window is open.
    int ShowModal();
    // Reads the records again through the filters.
    void Reload();

    void ButtonProofClick();
    void ButtonVerifyClick();
    void ButtonRetryClick();

    // Asks where the proof goes; empty for no file. The window asks with a file dialog.
    std::function<QString(const QString& Suggested)> ChooseProofFile;

private:
    int64_t SelectedId() const;
    void ShowCheck(const QString& Text, bool Ok);

    std::unique_ptr<Ui::TFormJournal> FUi;
    QSqlQueryModel* FModel;
    QString FConnection;
};

} // namespace orvel
