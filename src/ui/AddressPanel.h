#pragma once
// The address group: postal code, place, street or post-office box, the check and the postal-code type through the
// window's own object or the web service, and what the panel shows for the answer.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class QGroupBox;

namespace Ui {
class TPanelAddress;
}

namespace orvel {

class TFormMain;

// The colour of a check's answer: green for 0, 9 and 12.
QColor AddressResultColour(int32_t Result);
// The colour of a postal-code type: green for the types 101 to 109.
QColor PlzTypeColour(int32_t Result);

// Which call a check makes, by the street field, the radio group and the house number.
enum class TAddressCall { Check, CheckStr, CheckStrHnr, CheckPof };
TAddressCall AddressCallFor(const QString& StrPof, int RadioIndex, const QString& Hnr);

// The places list: Orte with its count first, then the former names; Open when the drop-down opens.
struct TPlacesList
{
    QStringList Items;
    bool Open = false;
    bool operator==(const TPlacesList&) const = default;
};
// Orte starts with the count ("0" or nothing: no list).
TPlacesList PlacesList(const QStringList& Orte, const QStringList& AlteOrte);
// The place an entry of the list puts into the place field; empty when the entry is not copied (the first of
// several, or none selected).
QString PlaceOfEntry(const QStringList& Items, int Index);

// What a check answered, in the same terms for the object and the web service.
struct TAddressValues
{
    int32_t Result = 0;
    QString ResultText;
    QString Rewritten;
    QString Str46;
    QString Ortsteil;
    QString PlzOut;
    QStringList Orte; // count first
    QStringList AlteOrte;
};

class TPanelAddress : public QWidget
{
    Q_OBJECT

public:
    TPanelAddress(TFormMain& Host, QGroupBox& Group);
    ~TPanelAddress() override;

    void ButtonAddressClick();
    void ButtonTypClick();
    // The check or type query, its answer shown in the panel; the focus goes back to the postal code and the cursor is
    // restored also when the call throws, and the error goes on to the caller.
    void CheckAddressWddx();
    void CheckAddressWeb();
    void CheckPlzTypeWddx();
    void CheckPlzTypeWeb();

    void EditStrPofChange();
    void RadioGroupStrPofClick();
    void ComboBoxOrteSelect(int Index);

private:
    template <class Call> void CheckAddress(Call&& Values);
    template <class Call> void CheckPlzType(Call&& Values);
    TAddressValues CallWddx();
    TAddressValues CallWeb();
    void ShowResult(int32_t Result, const QString& Text, const QColor& Colour);
    void FocusPlz();

    std::unique_ptr<Ui::TPanelAddress> FUi;
    TFormMain& FHost;
};

} // namespace orvel
