#include "ui/TarvikPanel.h"

#include "platform/Error.h"
#include "soap/WebServices.h"
#include "ui/FormIbanBic.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui_TarvikPanel.h"

#include <QTabWidget>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

constexpr char kUnknownSuccessor[] = "00000000";

QString Q(const WideString& Text)
{
    return QString::fromStdU16String(Text);
}

QColor ResultColour(int32_t Result)
{
    return Result < 0 || Result > 10 ? kRed : kGreen;
}

// Shows the start of a long answer rather than its end; the field itself marks a cut and offers the whole text.
void SetText(QLineEdit& Edit, const QString& Text)
{
    Edit.setText(Text);
    Edit.setCursorPosition(0);
}

void SetShown(QLineEdit& Edit, const TShownText& Shown)
{
    SetText(Edit, Shown.Text);
    QPalette palette = Edit.palette();
    palette.setColor(QPalette::Text, Shown.Colour);
    Edit.setPalette(palette);
}

} // namespace

int FieldKind(const QString& Text)
{
    if (Text.isEmpty())
        return kKindEmpty;
    return IsAllDigits(Text) ? kKindDigits : kKindOther;
}

int InputModeOf(int BlzKind, int KtoKind)
{
    // Rows by the account field's kind, columns by the bank code field's.
    static constexpr int modes[3][3] = {
        {kModeNone, kModeNone, kModeBic},
        {kModeCc, kModeBlzKto, kModeNone},
        {kModeIban, kModeNone, kModeIbanBic},
    };
    return modes[KtoKind][BlzKind];
}

QString InputModeText(int InputMode)
{
    switch (InputMode) {
    case kModeBlzKto:
        return u"Mit \"Start\" wird BLZ/Konto geprüft"_s;
    case kModeIban:
        return u"Mit \"Start\" wird IBAN geprüft"_s;
    case kModeIbanBic:
        return u"Mit \"Start\" wird IBAN/BIC geprüft"_s;
    case kModeBic:
        return u"Mit \"Start\" wird BIC geprüft"_s;
    case kModeCc:
        return u"Mit \"Start\" wird Kreditkarte geprüft"_s;
    default:
        return u"Unverträgliche Eingaben in BLZ und Konto"_s;
    }
}

TAccountDisplay AccountDisplay(int InputMode, const TAccountValues& Values)
{
    TAccountDisplay shown;
    const QColor colour = ResultColour(Values.Result);
    const bool bicNamed = !Values.BicName.isEmpty() && !Values.BicName.startsWith(u'*');

    if (InputMode == kModeBic) {
        // Only a service with the SCL directory can say a BIC is in it; its flags are information as of its date.
        const bool scl = !Values.SclDate.isEmpty();
        const QString asOf = scl ? u" (Stand "_s + Values.SclDate + u")"_s : QString();
        const bool reachable = Values.Sct || Values.Sdd || Values.B2b;
        shown.Result = {QString(), colour};
        if (Values.BicName.startsWith(u'*'))
            shown.Resulttext = {Values.BicName.mid(1), kMaroon};
        else if (scl && bicNamed && reachable)
            shown.Resulttext = {u"BIC in SCL-Directory gefunden"_s + asOf, kGreen};
        else if (scl)
            shown.Resulttext = {u"BIC nicht in SCL-Directory"_s + asOf, kRed};
        else if (bicNamed)
            shown.Resulttext = {u"BIC im Bankverzeichnis gefunden"_s, kGreen};
        else
            shown.Resulttext = {u"BIC nicht im Bankverzeichnis"_s, kRed};
    } else {
        shown.Result = {QString::number(Values.Result), colour};
        shown.Resulttext = {Values.ResultText, colour};
    }

    switch (InputMode) {
    case kModeBlzKto:
    case kModeIban:
    case kModeCc:
        shown.BankName = Values.BankName;
        break;
    case kModeIbanBic:
        if (!Values.BankName.isEmpty() && !Values.BicName.isEmpty())
            shown.BankName = u"aus IBAN: "_s + Values.BankName + u" / aus BIC: "_s + Values.BicName;
        else if (!Values.BankName.isEmpty())
            shown.BankName = u"aus IBAN: "_s + Values.BankName + u", BIC nicht gefunden"_s;
        else if (!Values.BicName.isEmpty())
            shown.BankName = u"aus BIC: "_s + Values.BicName;
        else
            shown.BankName = u"BIC nicht gefunden"_s;
        break;
    case kModeBic:
        shown.BankName = Values.BicName.startsWith(u'*') ? QString() : Values.BicName;
        break;
    default:
        break;
    }

    if (!Values.NewBlz.isEmpty()) {
        const QString successor = Values.NewBlz == QLatin1StringView(kUnknownSuccessor)
                                      ? u"Nachfolge-BLZ nicht bekannt"_s
                                      : u"Nachfolge-BLZ="_s + Values.NewBlz;
        shown.Hinweis =
            (Values.Result == -1 ? u"BLZ wurde kürzlich ungültig; "_s : u"BLZ wird in Kürze ungültig; "_s) + successor;
    } else if ((InputMode == kModeIbanBic || InputMode == kModeBic) && bicNamed) {
        shown.Hinweis = u"SCT=%1 SDD=%2 B2B=%3"_s.arg(Values.Sct).arg(Values.Sdd).arg(Values.B2b);
    }

    if (Values.Result >= 0 && Values.Result <= 10 && (!Values.Iban.isEmpty() || !Values.Bic.isEmpty())) {
        shown.IbanBicButton = true;
        shown.Iban = Values.Iban;
        shown.Bic = Values.Bic;
    }
    return shown;
}

TPanelTarvik::TPanelTarvik(TFormMain& Host, QTabWidget& Pages, QWidget& Land)
    : QWidget(Pages.widget(0)), FUi(std::make_unique<Ui::TPanelTarvik>()), FHost(Host), FLand(Land),
      FFormIbanBic(new TFormIbanBicAnzeigen(&Host))
{
    FUi->setupUi(this);
    for (QLineEdit* result : {FUi->EditTarvikResult, FUi->EditTarvikResulttext}) {
        QFont font = result->font();
        font.setPixelSize(16);
        result->setFont(font);
    }
    auto* layout = new QVBoxLayout(Pages.widget(0));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(this);
    // The announcement sits beside the tabs, where it is seen from both.
    Pages.setCornerWidget(FUi->PanelStart, Qt::TopRightCorner);

    connect(FUi->EditBlz, &QLineEdit::textChanged, this, [this] { Guarded(&FHost, [this] { EditBlzChange(); }); });
    connect(FUi->EditKto, &QLineEdit::textChanged, this, [this] { Guarded(&FHost, [this] { EditKtoChange(); }); });
    connect(FUi->ButtonTarvik, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { ButtonTarvikClick(); }); });
    connect(FUi->ButtonIbanBicAnzeigen, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { ButtonIbanBicAnzeigenClick(); }); });
    connect(&Pages, &QTabWidget::currentChanged, this,
            [this](int index) { Guarded(&FHost, [this, index] { PageControlTarvikChange(index); }); });
}

TPanelTarvik::~TPanelTarvik() = default;

void TPanelTarvik::EditBlzChange()
{
    FilterUpperAlnum(*FUi->EditBlz);
    FBlzKind = FieldKind(FUi->EditBlz->text());
    UpdateInputMode();
}

void TPanelTarvik::EditKtoChange()
{
    FilterUpperAlnum(*FUi->EditKto);
    FKtoKind = FieldKind(FUi->EditKto->text());
    UpdateInputMode();
}

void TPanelTarvik::UpdateInputMode()
{
    FInputMode = InputModeOf(FBlzKind, FKtoKind);
    FUi->PanelStart->setText(InputModeText(FInputMode));
    FUi->ButtonTarvik->setEnabled(FInputMode != kModeNone);
    // The country matters only for a bank code with an account number.
    FLand.setEnabled(FInputMode == kModeBlzKto);
}

void TPanelTarvik::ButtonTarvikClick()
{
    if (FHost.DoWeb)
        CheckAccountWeb();
    else
        CheckAccountWddx();
}

template <class Call> void TPanelTarvik::CheckAccount(Call&& Values)
{
    FUi->EditTarvikResult->clear();
    FUi->EditTarvikResulttext->clear();
    FUi->EditTarvikBankName->clear();
    const TFinally focus([this] { FocusInput(); });
    TWaitCursor wait;
    ProcessPendingEvents();
    TAccountValues values = Values();
    values.SclDate = FHost.BankData().SclDate;
    TAccountDisplay display = AccountDisplay(FInputMode, values);
    const QString hint = ServiceDownHint(values.Result, values.ResultText, QString::fromStdString(FHost.HostWddx()));
    if (!hint.isEmpty())
        display.Hinweis = ServiceDownLine();
    Show(display);
    if (!hint.isEmpty())
        FUi->EditTarvikHinweis->setToolTip(hint);
}

void TPanelTarvik::CheckAccountWddx()
{
    CheckAccount([this] { return CallWddx(); });
}

void TPanelTarvik::CheckAccountWeb()
{
    CheckAccount(
        [this] { return WithServiceDownHint(QString::fromStdString(FHost.HostWeb), [this] { return CallWeb(); }); });
}

TAccountValues TPanelTarvik::CallWddx()
{
    if (!FHost.TarvikObject)
        throw Error("Kein Pr\xFC"
                    "fobjekt vorhanden");
    const ITarvik& tarvik = FHost.TarvikObject;
    tarvik->SetSSLMode(FHost.CurrentSSLMode());
    const WideString user = FHost.User().toStdU16String();
    const WideString pass = FHost.Pass().toStdU16String();
    const WideString blz = FUi->EditBlz->text().toStdU16String();
    const WideString kto = FUi->EditKto->text().toStdU16String();
    const int mode = FInputMode;
    switch (mode) {
    case kModeBlzKto:
        tarvik->TestBlzKto(user, pass, blz, kto, FHost.LandText().toStdU16String(), FHost.Id(),
                           FHost.Name().toStdU16String());
        break;
    case kModeIban:
        tarvik->TestIban(user, pass, kto, FHost.Id(), FHost.Name().toStdU16String());
        break;
    case kModeIbanBic:
        tarvik->TestIbanBic(user, pass, kto, blz, FHost.Id(), FHost.Name().toStdU16String());
        break;
    case kModeBic:
        tarvik->TestBic(user, pass, blz);
        break;
    case kModeCc:
        tarvik->TestCc(user, pass, kto);
        break;
    default: {
        TAccountValues none;
        none.Result = 94;
        return none;
    }
    }

    TAccountValues values;
    values.Result = tarvik->Result();
    values.ResultText = Q(tarvik->Resulttext());
    if (mode != kModeBic)
        values.BankName = Q(tarvik->BankName());
    if (mode == kModeIbanBic || mode == kModeBic) {
        values.BicName = Q(tarvik->BicName());
        values.Sct = tarvik->BicSct();
        values.Sdd = tarvik->BicSdd();
        values.B2b = tarvik->BicB2b();
    }
    if (mode == kModeBlzKto || mode == kModeIban || mode == kModeIbanBic) {
        values.NewBlz = Q(tarvik->NewBlz());
        values.Iban = Q(tarvik->Iban());
        values.Bic = Q(tarvik->Bic());
    }
    return values;
}

TAccountValues TPanelTarvik::CallWeb()
{
    if (!FHost.TarvikService)
        throw Error("Kein Web-Service vorhanden");
    PrepareService("ITarvik", *FHost.TarvikServiceObject, FHost.ServiceSettings());
    ITarvikUnit::ITarvik& service = *FHost.TarvikService;
    const WideString user = FHost.User().toStdU16String();
    const WideString pass = FHost.Pass().toStdU16String();
    const WideString blz = FUi->EditBlz->text().toStdU16String();
    const WideString kto = FUi->EditKto->text().toStdU16String();
    WideString text, bankName, bicName, newBlz, iban, bic;
    TAccountValues values;
    switch (FInputMode) {
    case kModeBlzKto:
        values.Result = service.TestBlzKto(user, pass, blz, kto, FHost.LandText().toStdU16String(), FHost.Id(),
                                           FHost.Name().toStdU16String(), text, bankName, newBlz, iban, bic);
        break;
    case kModeIban:
        values.Result = service.TestIban(user, pass, kto, FHost.Id(), FHost.Name().toStdU16String(), text, bankName,
                                         newBlz, iban, bic);
        break;
    case kModeIbanBic:
        values.Result = service.TestIbanBic(user, pass, kto, blz, FHost.Id(), FHost.Name().toStdU16String(), text,
                                            bankName, bicName, newBlz, iban, bic, values.Sct, values.Sdd, values.B2b);
        break;
    case kModeBic:
        // The service's BIC check returns no number; it counts as 0.
        service.TestBic(user, pass, blz, bicName, values.Sct, values.Sdd, values.B2b);
        values.Result = 0;
        break;
    case kModeCc:
        values.Result = service.TestCc(user, pass, kto, text);
        break;
    default:
        values.Result = 94;
        break;
    }
    values.ResultText = Q(text);
    values.BankName = Q(bankName);
    values.BicName = Q(bicName);
    values.NewBlz = Q(newBlz);
    values.Iban = Q(iban);
    values.Bic = Q(bic);
    return values;
}

void TPanelTarvik::Show(const TAccountDisplay& Display)
{
    SetShown(*FUi->EditTarvikResult, Display.Result);
    SetShown(*FUi->EditTarvikResulttext, Display.Resulttext);
    SetText(*FUi->EditTarvikBankName, Display.BankName);
    SetText(*FUi->EditTarvikHinweis, Display.Hinweis);
    if (Display.IbanBicButton)
        FFormIbanBic->SetValues(Display.Iban, Display.Bic);
    FUi->ButtonIbanBicAnzeigen->setVisible(Display.IbanBicButton);
}

void TPanelTarvik::FocusInput()
{
    QLineEdit* field = !FUi->EditBlz->text().isEmpty() && FUi->EditBlz->isEnabled() ? FUi->EditBlz : FUi->EditKto;
    field->setFocus();
    field->selectAll();
}

void TPanelTarvik::PageControlTarvikChange(int Index)
{
    FHost.SetDefaultButton(Index == 0 ? TDefaultButton::Tarvik : TDefaultButton::TarvikSearch);
    if (Index == 0) {
        FocusInput();
    } else if (auto* search = FHost.findChild<QLineEdit*>(u"EditTarvikSearch"_s)) {
        search->setFocus();
        search->selectAll();
    }
}

void TPanelTarvik::ButtonIbanBicAnzeigenClick()
{
    FFormIbanBic->ShowModal();
}

} // namespace orvel
