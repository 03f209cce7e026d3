#pragma once
// The trader's name and address of the last valid VAT id that came with details.

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class TFormUStIDInfo;
}

namespace orvel {

class TFormUStIDInfo : public QDialog
{
    Q_OBJECT

public:
    explicit TFormUStIDInfo(QWidget* Parent = nullptr);
    ~TFormUStIDInfo() override;

    void SetInfo(const QString& Id, const QStringList& Lines);
    QString Id() const;
    QStringList Lines() const;
    // Modal, with the focus on Schließen; Escape closes as well.
    int ShowModal();

signals:
    // "Qualifizierte Bestätigung…": the person wants the shown id confirmed with proof.
    void ConfirmRequested();

private:
    std::unique_ptr<Ui::TFormUStIDInfo> FUi;
};

} // namespace orvel
