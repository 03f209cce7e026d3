#pragma once
// The IBAN and BIC of the last account check, in fields the user can select and copy from.

#include <QDialog>

#include <memory>

namespace Ui {
class TFormIbanBicAnzeigen;
}

namespace orvel {

class TFormIbanBicAnzeigen : public QDialog
{
    Q_OBJECT

public:
    explicit TFormIbanBicAnzeigen(QWidget* Parent = nullptr);
    ~TFormIbanBicAnzeigen() override;

    void SetValues(const QString& Iban, const QString& Bic);
    QString Iban() const;
    QString Bic() const;
    // Modal, with the focus on Ok: Enter or Ok accepts, Escape cancels.
    int ShowModal();

private:
    std::unique_ptr<Ui::TFormIbanBicAnzeigen> FUi;
};

} // namespace orvel
