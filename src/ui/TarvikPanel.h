#pragma once
// The check tab of the account group: bank code or BIC and account, IBAN or card number, the check that applies to
// them, its run through the window's own object or the web service, and what the panel shows for the answer.

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class QTabWidget;

namespace Ui {
class TPanelTarvik;
}

namespace orvel {

class TFormMain;
class TFormIbanBicAnzeigen;

// The class of an input field's text.
inline constexpr int kKindEmpty = 0;
inline constexpr int kKindDigits = 1;
inline constexpr int kKindOther = 2;
int FieldKind(const QString& Text);

// Which check Start runs.
inline constexpr int kModeNone = 0; // incompatible inputs
inline constexpr int kModeBlzKto = 1;
inline constexpr int kModeIban = 2;
inline constexpr int kModeIbanBic = 3;
inline constexpr int kModeBic = 4;
inline constexpr int kModeCc = 5;
int InputModeOf(int BlzKind, int KtoKind);
// The announcement next to the tabs.
QString InputModeText(int InputMode);

// What a check answered, in the same terms for the object and the web service.
struct TAccountValues
{
    int32_t Result = 0;
    QString ResultText;
    QString BankName;
    QString BicName; // a text beginning with "*" is the message of a failed BIC request
    QString NewBlz;
    int32_t Sct = 0;
    int32_t Sdd = 0;
    int32_t B2b = 0;
    QString Iban;
    QString Bic;
    QString SclDate; // the SCL directory's date when the service takes the BIC flags from it, else empty
};

inline const QColor kGreen{0, 128, 0};
inline const QColor kRed{255, 0, 0};
inline const QColor kMaroon{128, 0, 0};

struct TShownText
{
    QString Text;
    QColor Colour;
    bool operator==(const TShownText&) const = default;
};

// What the panel shows after a check.
struct TAccountDisplay
{
    TShownText Result;
    TShownText Resulttext;
    QString BankName;
    QString Hinweis;
    bool IbanBicButton = false; // shown, with Iban and Bic in the IBAN & BIC window
    QString Iban;
    QString Bic;
    bool operator==(const TAccountDisplay&) const = default;
};
TAccountDisplay AccountDisplay(int InputMode, const TAccountValues& Values);

class TPanelTarvik : public QWidget
{
    Q_OBJECT

public:
    // Fills the check tab of Pages; Land is the country group that the bank code check uses.
    TPanelTarvik(TFormMain& Host, QTabWidget& Pages, QWidget& Land);
    ~TPanelTarvik() override;

    int BlzKind() const { return FBlzKind; }
    int KtoKind() const { return FKtoKind; }
    int InputMode() const { return FInputMode; }

    void EditBlzChange();
    void EditKtoChange();
    void UpdateInputMode();

    void ButtonTarvikClick();
    // The check of the current input mode, its answer shown in the panel; the focus goes back to the input fields
    // and the cursor is restored also when the call throws, and the error goes on to the caller. Mode 0 makes no
    // call and shows 94.
    void CheckAccountWddx();
    void CheckAccountWeb();

    void PageControlTarvikChange(int Index);
    void ButtonIbanBicAnzeigenClick();
    TFormIbanBicAnzeigen& FormIbanBic() const { return *FFormIbanBic; }

private:
    template <class Call> void CheckAccount(Call&& Values);
    TAccountValues CallWddx();
    TAccountValues CallWeb();
    void Show(const TAccountDisplay& Display);
    void FocusInput();

    std::unique_ptr<Ui::TPanelTarvik> FUi;
    TFormMain& FHost;
    QWidget& FLand;
    TFormIbanBicAnzeigen* FFormIbanBic; // a window of its own over the main window, which owns it
    int FBlzKind = kKindEmpty;
    int FKtoKind = kKindEmpty;
    int FInputMode = kModeNone;
};

} // namespace orvel
