#include "ui/AddressPanel.h"

#include "platform/Error.h"
#include "soap/WebServices.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui_AddressPanel.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QPlainTextEdit>
#include <QStyle>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

const QColor kGreen{0, 128, 0};
const QColor kRed{255, 0, 0};

QString Q(const WideString& Text)
{
    return QString::fromStdU16String(Text);
}

WideString W(const QString& Text)
{
    return Text.toStdU16String();
}

QStringList List(const TStringDynArray& Items)
{
    QStringList list;
    for (const WideString& item : Items)
        list.append(Q(item));
    return list;
}

void FitListWidth(QComboBox& Box)
{
    QAbstractItemView& list = *Box.view();
    list.setMinimumWidth(list.sizeHintForColumn(0) + 2 * list.frameWidth() +
                         list.style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void SetTextColour(QWidget& Widget, const QColor& Colour)
{
    QPalette palette = Widget.palette();
    palette.setColor(QPalette::Text, Colour);
    Widget.setPalette(palette);
}

} // namespace

QColor AddressResultColour(int32_t Result)
{
    return Result == 0 || Result == 9 || Result == 12 ? kGreen : kRed;
}

QColor PlzTypeColour(int32_t Result)
{
    return Result >= 101 && Result <= 109 ? kGreen : kRed;
}

TAddressCall AddressCallFor(const QString& StrPof, int RadioIndex, const QString& Hnr)
{
    if (StrPof.isEmpty())
        return TAddressCall::Check;
    if (RadioIndex == 1)
        return TAddressCall::CheckPof;
    return Hnr.isEmpty() ? TAddressCall::CheckStr : TAddressCall::CheckStrHnr;
}

TPlacesList PlacesList(const QStringList& Orte, const QStringList& AlteOrte)
{
    TPlacesList places;
    if (Orte.isEmpty() || Orte.first() == u"0"_s)
        return places;
    places.Items = Orte + AlteOrte;
    if (Orte.size() == 2) {
        places.Items.removeFirst();
    } else {
        places.Items.first() += u" Orte gefunden:"_s;
        places.Open = true;
    }
    return places;
}

QString PlaceOfEntry(const QStringList& Items, int Index)
{
    if (Index < 0 || Index >= Items.size() || (Items.size() > 1 && Index == 0))
        return {};
    const QString& entry = Items.at(Index);
    return entry.mid(entry.lastIndexOf(u'|') + 1);
}

TPanelAddress::TPanelAddress(TFormMain& Host, QGroupBox& Group)
    : QWidget(&Group), FUi(std::make_unique<Ui::TPanelAddress>()), FHost(Host)
{
    FUi->setupUi(this);
    // The start text is an instruction: show its beginning, not its end.
    FUi->EditStrPof->setCursorPosition(0);
    Group.layout()->setContentsMargins(0, 0, 0, 0);
    Group.layout()->addWidget(this);
    QFont font = FUi->EditAddressResult->font();
    font.setBold(true);
    font.setPixelSize(16);
    FUi->EditAddressResult->setFont(font);
    FUi->ComboBoxRewrite->setCurrentIndex(2);
    // The lists open as wide as their entries, wider than the fields.
    FUi->ComboBoxOrte->view()->setMinimumWidth(260);
    FitListWidth(*FUi->ComboBoxRewrite);

    auto* strPof = new QButtonGroup(this);
    strPof->setObjectName(u"ButtonGroupStrPof"_s);
    strPof->addButton(FUi->RadioButtonStr, 0);
    strPof->addButton(FUi->RadioButtonPof, 1);

    connect(FUi->ButtonAddress, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { ButtonAddressClick(); }); });
    connect(FUi->ButtonTyp, &QPushButton::clicked, this, [this] { Guarded(&FHost, [this] { ButtonTypClick(); }); });
    connect(FUi->EditStrPof, &QLineEdit::textChanged, this, [this] { Guarded(&FHost, [this] { EditStrPofChange(); }); });
    connect(strPof, &QButtonGroup::idClicked, this, [this] { Guarded(&FHost, [this] { RadioGroupStrPofClick(); }); });
    connect(FUi->ComboBoxOrte, &QComboBox::activated, this,
            [this](int index) { Guarded(&FHost, [this, index] { ComboBoxOrteSelect(index); }); });
}

TPanelAddress::~TPanelAddress() = default;

void TPanelAddress::ButtonAddressClick()
{
    if (FHost.DoWeb)
        CheckAddressWeb();
    else
        CheckAddressWddx();
}

void TPanelAddress::ButtonTypClick()
{
    if (FHost.DoWeb)
        CheckPlzTypeWeb();
    else
        CheckPlzTypeWddx();
}

template <class Call> void TPanelAddress::CheckAddress(Call&& Values)
{
    FUi->EditAddressResult->clear();
    FUi->MemoAddressResulttext->clear();
    FUi->MemoAddressResulttext->setToolTip(QString());
    FUi->ComboBoxOrte->clear();
    FUi->ComboBoxOrte->setEditText(QString());
    bool open = false;
    {
        const TFinally focus([this] { FocusPlz(); });
        TWaitCursor wait;
        ProcessPendingEvents();
        const TAddressValues values = Values();
        if (!values.Rewritten.isEmpty())
            FUi->EditOrt->setText(values.Rewritten);
        if (!values.Str46.isEmpty())
            FUi->EditStrPof->setText(values.Str46);
        ShowResult(values.Result, values.ResultText, AddressResultColour(values.Result));
        FUi->LabeledEditOrtsteil->setText(values.Ortsteil);
        FUi->LabeledEditPlzOut->setText(values.PlzOut);
        const TPlacesList places = PlacesList(values.Orte, values.AlteOrte);
        const QSignalBlocker quiet(FUi->ComboBoxOrte);
        FUi->ComboBoxOrte->addItems(places.Items);
        if (!places.Items.isEmpty())
            FUi->ComboBoxOrte->setCurrentIndex(0);
        open = places.Open;
    }
    // Opened after the focus went back, which would close it again.
    if (open)
        FUi->ComboBoxOrte->showPopup();
}

template <class Call> void TPanelAddress::CheckPlzType(Call&& Values)
{
    const TFinally focus([this] { FocusPlz(); });
    TWaitCursor wait;
    ProcessPendingEvents();
    const auto [result, text] = Values();
    ShowResult(result, text, PlzTypeColour(result));
}

void TPanelAddress::CheckAddressWddx()
{
    CheckAddress([this] { return CallWddx(); });
}

void TPanelAddress::CheckAddressWeb()
{
    CheckAddress(
        [this] { return WithServiceDownHint(QString::fromStdString(FHost.HostWeb), [this] { return CallWeb(); }); });
}

TAddressValues TPanelAddress::CallWddx()
{
    if (!FHost.AddressObject)
        throw Error("Kein Pr\xFC" "fobjekt vorhanden");
    const IAddress& address = FHost.AddressObject;
    address->SetSSLMode(FHost.CurrentSSLMode());
    address->SetRewrite(FUi->ComboBoxRewrite->currentIndex());
    const WideString user = W(FHost.User());
    const WideString pass = W(FHost.Pass());
    const WideString plz = W(FUi->EditPlz->text());
    const WideString ort = W(FUi->EditOrt->text());
    const WideString strPof = W(FUi->EditStrPof->text());
    switch (AddressCallFor(FUi->EditStrPof->text(), FUi->RadioButtonPof->isChecked() ? 1 : 0,
                           FUi->LabeledEditHnr->text())) {
    case TAddressCall::Check:
        address->Check(user, pass, plz, ort);
        break;
    case TAddressCall::CheckPof:
        address->CheckPof(user, pass, plz, ort, strPof);
        break;
    case TAddressCall::CheckStrHnr:
        address->CheckStrHnr(user, pass, plz, ort, strPof, W(FUi->LabeledEditHnr->text()));
        break;
    case TAddressCall::CheckStr:
        address->CheckStr(user, pass, plz, ort, strPof);
        break;
    }

    TAddressValues values;
    values.Rewritten = Q(address->Rewritten());
    values.Str46 = Q(address->Str46());
    values.Result = address->Result();
    values.ResultText = Q(address->Resulttext());
    values.Ortsteil = Q(address->Ortsteil());
    values.PlzOut = Q(address->PlzOut());
    const QString count = Q(address->Orte(0));
    if (count == u"0"_s)
        return values;
    for (int32_t i = 0;; ++i) {
        const QString place = Q(address->Orte(i));
        if (place.isEmpty())
            break;
        values.Orte.append(place);
    }
    for (int32_t i = 1;; ++i) {
        const QString former = Q(address->AlteOrte(i));
        if (former.isEmpty())
            break;
        values.AlteOrte.append(former);
    }
    return values;
}

TAddressValues TPanelAddress::CallWeb()
{
    if (!FHost.AddressService)
        throw Error("Kein Web-Service vorhanden");
    PrepareService("IAddress3", *FHost.AddressServiceObject, FHost.ServiceSettings());
    IAddress3& service = *FHost.AddressService;
    const WideString user = W(FHost.User());
    const WideString pass = W(FHost.Pass());
    const WideString plz = W(FUi->EditPlz->text());
    const WideString ort = W(FUi->EditOrt->text());
    const WideString strPof = W(FUi->EditStrPof->text());
    const int32_t rewrite = FUi->ComboBoxRewrite->currentIndex();
    WideString text, rewritten, str46, str22, ortsteil, plzOut;
    TStringDynArray orte, alteOrte;
    TAddressValues values;
    switch (AddressCallFor(FUi->EditStrPof->text(), FUi->RadioButtonPof->isChecked() ? 1 : 0,
                           FUi->LabeledEditHnr->text())) {
    case TAddressCall::Check:
        values.Result = service.CheckPlzOrt(user, pass, plz, ort, rewrite, text, rewritten, orte, alteOrte);
        break;
    case TAddressCall::CheckPof:
        values.Result = service.CheckPlzOrtPof(user, pass, plz, ort, strPof, rewrite, text, rewritten, orte, alteOrte);
        break;
    case TAddressCall::CheckStr:
    case TAddressCall::CheckStrHnr:
        values.Result = service.CheckPlzOrtStr(user, pass, plz, ort, strPof, W(FUi->LabeledEditHnr->text()), rewrite,
                                               text, rewritten, str46, str22, ortsteil, plzOut, orte, alteOrte);
        break;
    }
    values.ResultText = Q(text);
    values.Rewritten = Q(rewritten);
    values.Str46 = Q(str46);
    values.Ortsteil = Q(ortsteil);
    values.PlzOut = Q(plzOut);
    if (!orte.empty()) {
        values.Orte = QStringList{QString::number(orte.size())} + List(orte);
        values.AlteOrte = List(alteOrte);
    }
    return values;
}

void TPanelAddress::CheckPlzTypeWddx()
{
    CheckPlzType([this] {
        if (!FHost.AddressObject)
            throw Error("Kein Pr\xFC" "fobjekt vorhanden");
        const IAddress& address = FHost.AddressObject;
        address->SetSSLMode(FHost.CurrentSSLMode());
        address->GetPlzType(W(FHost.User()), W(FHost.Pass()), W(FUi->EditPlz->text()));
        return std::pair{address->Result(), Q(address->Resulttext())};
    });
}

void TPanelAddress::CheckPlzTypeWeb()
{
    CheckPlzType([this] {
        if (!FHost.AddressService)
            throw Error("Kein Web-Service vorhanden");
        PrepareService("IAddress3", *FHost.AddressServiceObject, FHost.ServiceSettings());
        WideString text;
        const int32_t result =
            FHost.AddressService->GetPlzType(W(FHost.User()), W(FHost.Pass()), W(FUi->EditPlz->text()), text);
        return std::pair{result, Q(text)};
    });
}

void TPanelAddress::ShowResult(int32_t Result, const QString& Text, const QColor& Colour)
{
    FUi->EditAddressResult->setText(QString::number(Result));
    const QString hint = ServiceDownHint(Result, Text, QString::fromStdString(FHost.HostWddx()));
    FUi->MemoAddressResulttext->setPlainText(hint.isEmpty() ? Text : Text + u"\n"_s + ServiceDownLine());
    // The field holds two lines: the hint's line under the end of the error is what the user must read.
    FUi->MemoAddressResulttext->moveCursor(QTextCursor::End);
    FUi->MemoAddressResulttext->ensureCursorVisible();
    // The whole answer is there when the mouse rests on it.
    FUi->MemoAddressResulttext->setToolTip(hint.isEmpty() ? Text : Text + u"\n"_s + hint);
    SetTextColour(*FUi->EditAddressResult, Colour);
    SetTextColour(*FUi->MemoAddressResulttext, Colour);
}

void TPanelAddress::FocusPlz()
{
    FUi->EditPlz->setFocus();
    FUi->EditPlz->selectAll();
}

void TPanelAddress::EditStrPofChange()
{
    FUi->RadioGroupStrPof->setEnabled(!FUi->EditStrPof->text().isEmpty());
}

void TPanelAddress::RadioGroupStrPofClick()
{
    FUi->EditStrPof->setFocus();
    FUi->EditStrPof->selectAll();
}

void TPanelAddress::ComboBoxOrteSelect(int Index)
{
    QStringList items;
    for (int i = 0; i < FUi->ComboBoxOrte->count(); ++i)
        items.append(FUi->ComboBoxOrte->itemText(i));
    const QString place = PlaceOfEntry(items, Index);
    if (!place.isEmpty())
        FUi->EditOrt->setText(place);
}

} // namespace orvel
