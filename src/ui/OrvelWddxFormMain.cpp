#include "ui/OrvelWddxFormMain.h"

#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/StrToInt.h"
#include "server/Startup.h"
#include "ui/AddressPanel.h"
#include "ui/BankDataInfo.h"
#include "ui/FormInternUnit.h"
#include "ui/OrvelUtils.h"
#include "ui/TarvikPanel.h"
#include "ui/TarvikSearchPanel.h"
#include "ui/UStIDPanel.h"
#include "ui_OrvelWddxFormMain.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

constexpr char kSettingsKey[] = "\\Software\\Orvel\\OrvelWddx";
constexpr int kClientWidth = 615;
constexpr int kClientHeight = 642;

// Captions keep the CR LF of their texts; Qt breaks lines at LF alone.
QString Caption(const char* Utf8)
{
    return QString::fromUtf8(Utf8).replace(u"\r\n"_s, u"\n"_s);
}

QString FromStored(const std::string& Utf8)
{
    return QString::fromStdString(Utf8);
}

std::string ToStored(const QString& Text)
{
    return Text.toStdString();
}

bool Contains(const QWidget* Outer, const QWidget* Inner)
{
    return Inner && (Inner == Outer || Outer->isAncestorOf(Inner));
}

} // namespace

QString ApplicationTitle(const QString& Host)
{
    return u"COM-Interfaces für "_s + Host;
}

QString ReadmeFile(const QString& ProgramDir)
{
    const QString installed = ProgramDir + u"/../share/doc/orvelwddx/README.md"_s;
    if (QFileInfo(installed).isFile())
        return QFileInfo(installed).canonicalFilePath();
    return QString::fromUtf8(ORVEL_SOURCE_README);
}

bool WebHostFollows(const std::string& Web, const std::string& Wddx)
{
    return Web.empty() || Web == Wddx;
}

int32_t SSLModeOf(bool SSL, bool IgnoreInvalidCerts)
{
    if (!SSL)
        return 0;
    return IgnoreInvalidCerts ? 2 : 1;
}

QString ProxyPortText(int32_t StoredPort)
{
    return StoredPort == 0 ? QString() : QString::number(StoredPort);
}

int32_t ProxyPortValue(const QString& Text)
{
    return StrToIntDef(Text.toStdString(), 0);
}

QString WithoutAccessKeys(QString Caption)
{
    return Caption.remove(u'&');
}

bool ProxyPortKeyPasses(const QString& Text, Qt::KeyboardModifiers Modifiers)
{
    if (Modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    if (Text.isEmpty() || !Text.at(0).isPrint())
        return true;
    return Text.size() == 1 && Text.at(0) >= u'0' && Text.at(0) <= u'9';
}

TDefaultButton DefaultButtonFor(TGroup Group, int TarvikTab)
{
    switch (Group) {
    case TGroup::Tarvik:
        return TarvikTab == 1 ? TDefaultButton::TarvikSearch : TDefaultButton::Tarvik;
    case TGroup::Address:
        return TDefaultButton::Address;
    case TGroup::UStID:
        return TDefaultButton::UStID;
    }
    return TDefaultButton::Tarvik;
}

TFormMain::TFormMain(std::unique_ptr<TRegistry> Registry, QWidget* Parent)
    : QWidget(Parent), Timer1(new QTimer(this)), FUi(std::make_unique<Ui::TFormMain>()),
      SettingsKey(std::move(Registry))
{
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(0);
    connect(Timer1, &QTimer::timeout, this, &TFormMain::Timer1Timer);
    // A server started by a client keeps its window hidden: the form, the panels, the dialogs and the fonts and German
    // texts they need wait for a first show, which a client's answer never waits for.
    if (ComServer().StartMode() == TStartMode::Standalone)
        Build();
}

void TFormMain::setVisible(bool Visible)
{
    if (Visible)
        Build();
    QWidget::setVisible(Visible);
}

void TFormMain::Build()
{
    if (FBuilt)
        return;
    FBuilt = true;
    LoadQtGermanTranslations();
    FUi->setupUi(this);
    FPanelTarvik = new TPanelTarvik(*this, *FUi->PageControlTarvik, *FUi->RadioGroupLand);
    FPanelTarvikSearch = new TPanelTarvikSearch(*this, *FUi->PageControlTarvik);
    FPanelAddress = new TPanelAddress(*this, *FUi->GroupBoxAddress);
    FPanelUStID = new TPanelUStID(*this, *FUi->GroupBoxUStID);
    FFormIntern = new TFormIntern(this);
    LabeledEditId = FFormIntern->LabeledEditId;
    LabeledEditName = FFormIntern->LabeledEditName;
    // From the tabs into the fields of the tab shown, then to the country.
    QWidget* previous = FUi->PageControlTarvik;
    for (const char* name : {"EditBlz",
                             "EditKto",
                             "ButtonTarvik",
                             "ButtonIbanBicAnzeigen",
                             "EditTarvikSearch",
                             "ButtonTarvikSearch",
                             "CheckBoxTarvikFragments",
                             "RadioButtonDE",
                             "RadioButtonAT",
                             "EditPlz",
                             "EditOrt",
                             "ComboBoxRewrite",
                             "RadioButtonStr",
                             "RadioButtonPof",
                             "EditStrPof",
                             "LabeledEditHnr",
                             "ButtonAddress",
                             "ButtonTyp",
                             "MemoAddressResulttext",
                             "LabeledEditOrtsteil",
                             "LabeledEditPlzOut",
                             "ComboBoxOrte",
                             "LabeledEditUStID",
                             "ButtonUStID",
                             "ButtonUStIDInfo"}) {
        QWidget* next = findChild<QWidget*>(QString::fromLatin1(name));
        setTabOrder(previous, next);
        previous = next;
    }
    // A fixed frame with a system menu and a minimise button, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    CentreOnScreen(*this);

    auto* land = new QButtonGroup(this);
    land->setObjectName(u"ButtonGroupLand"_s);
    land->addButton(FUi->RadioButtonDE, 0);
    land->addButton(FUi->RadioButtonAT, 1);

    for (QLineEdit* edit : {FUi->EditProxyHost, FUi->EditProxyPort, FUi->EditProxyUser, FUi->EditProxyPass})
        connect(edit, &QLineEdit::textChanged, this, [this] { Guarded(this, [this] { EditProxyChange(); }); });
    connect(FUi->CheckBoxSSL, &QCheckBox::clicked, this, [this] { Guarded(this, [this] { CheckBoxSSLClick(); }); });
    connect(qApp, &QApplication::focusChanged, this, &TFormMain::FocusChanged);
    connect(this, &TFormMain::FormKeyUp, this, [this](int key, Qt::KeyboardModifiers modifiers) {
        if (IsInternKey(key, modifiers))
            Guarded(this, [this] { ShowFormIntern(); });
    });
    // Key preview: the window sees the keys of all its controls first.
    PreviewKeys(this);

    Guarded(this, [this] { FormCreate(); });
}

TFormMain::~TFormMain()
{
    // Destroying the child widgets moves the focus; by then this is no TFormMain any more.
    disconnect(qApp, &QApplication::focusChanged, this, &TFormMain::FocusChanged);
}

void TFormMain::FormCreate()
{
    // 1. The window's own objects, only when the program was started directly.
    const bool standalone = ComServer().StartMode() == TStartMode::Standalone;
    if (standalone)
        CreateObjects();

    // 2. Captions with line breaks; the result labels belong to the panels.
    FUi->LabelOrvelWddx1->setText(Caption("Für Informationen zu\r\ndiesem Tool klicken\r\nSie bitte auf:"));
    for (const char* name : {"LabelTarvikResult", "LabelAddressResult"})
        if (auto* label = findChild<QLabel*>(QString::fromLatin1(name)))
            label->setText(Caption("Ergebnis\r\nals Zahl:"));
    for (const char* name : {"LabelTarvikResulttext", "LabelAddressResulttext"})
        if (auto* label = findChild<QLabel*>(QString::fromLatin1(name)))
            label->setText(Caption("Ergebnis\r\nals Text:"));
    // The address in full as the tooltip; the label shows as much of it as its place holds.
    FUi->LabelOrvelWddx2->setToolTip(InfoUrl());
    ShowInfoUrl();
    SetLinkColour(QApplication::palette().color(QPalette::Link));

    // 3. and 4. The settings, when the key opens. A server started by a client leaves the user's files alone.
    HostWeb = config::WebHost();
    if (SettingsKey->OpenKey(kSettingsKey, standalone))
        ReadSettings();
    HostWddxChanged(WebHostFollows(HostWeb, HostWddx()));

    // 5.
    CheckBoxSSLClick();

    // 6.
    RepeatWddxTarvik = false;
    RepeatWddxAddress = false;
    RepeatWebTarvik = false;
    RepeatWebAddress = false;

    // 7. The account panel's input mode for the start texts of its fields.
    FPanelTarvik->EditBlzChange();
    FPanelTarvik->EditKtoChange();

    if (auto* blz = findChild<QWidget*>(u"EditBlz"_s))
        blz->setFocus();

    // Once the start is over: a call already waiting is answered first.
    QTimer::singleShot(0, this, [this] { AskBankData(); });
}

void TFormMain::CreateObjects()
{
    TarvikObject = CoTarvik::Create();
    TarvikServiceObject = std::make_shared<SoapClient>();
    TarvikService = ITarvikUnit::GetITarvik(TarvikServiceObject);
    AddressObject = CoAddress::Create();
    AddressServiceObject = std::make_shared<SoapClient>();
    AddressService = GetIAddress3(AddressServiceObject);
    UStIDObject = CoUStID::Create();
}

void TFormMain::ReadSettings()
{
    // Each value under its own guard: one bad value leaves the others alone.
    const TRegistry& key = *SettingsKey;
    auto readText = [&key](const char* name, QLineEdit* edit) {
        try {
            edit->setText(FromStored(key.ReadString(name)));
        } catch (const std::exception&) {
            edit->clear();
        }
    };
    auto readBox = [&key](const char* name, QCheckBox* box) {
        try {
            box->setChecked(key.ReadBool(name));
        } catch (const std::exception&) {
            box->setChecked(false);
        }
    };

    readText("User", FUi->EditUser);
    readText("Pass", FUi->EditPass);
    readBox("SSL", FUi->CheckBoxSSL);
    readBox("IgnoreInvalidCerts", FUi->CheckBoxIgnoreInvalidCerts);
    readText("ProxyHost", FUi->EditProxyHost);
    try {
        FUi->EditProxyPort->setText(ProxyPortText(key.ReadInteger("ProxyPort")));
    } catch (const std::exception&) {
        FUi->EditProxyPort->clear();
    }
    readText("ProxyUser", FUi->EditProxyUser);
    readText("ProxyPass", FUi->EditProxyPass);

    std::string hostWddx;
    try {
        hostWddx = key.ReadString("HostWddx");
    } catch (const std::exception&) {
        hostWddx.clear();
    }
    ApplyHostWddx(hostWddx);

    // A fresh store takes ORVELWDDX_WEB_HOST; without it, and for a stored host equal to the WDDX host, the web
    // services follow the WDDX host.
    try {
        HostWeb = Narrow(FromUtf8(key.ReadString("HostWeb")));
    } catch (const std::exception&) {
        HostWeb.clear();
    }
    if (HostWeb.empty())
        HostWeb = config::WebHost();

    try {
        OwnVatId = FromStored(key.ReadString("OwnVatId"));
    } catch (const std::exception&) {
        OwnVatId.clear();
    }
    FOwnVatIdRead = OwnVatId;

    try {
        DoWeb = key.ReadBool("DoWeb");
    } catch (const std::exception&) {
        DoWeb = false;
    }

    int32_t land = 0;
    try {
        land = key.ReadInteger("C");
    } catch (const std::exception&) {
        land = 0;
    }
    if (land < 0) {
        // No item selected; an exclusive group would not let go of its last one.
        FUi->RadioButtonDE->group()->setExclusive(false);
        FUi->RadioButtonDE->setChecked(false);
        FUi->RadioButtonAT->setChecked(false);
        FUi->RadioButtonDE->group()->setExclusive(true);
    } else {
        (land >= 1 ? FUi->RadioButtonAT : FUi->RadioButtonDE)->setChecked(true);
    }
}

void TFormMain::ApplyHostWddx(const std::string& Stored)
{
    const WideString fallback = Widen(config::WddxHost());
    auto apply = [&](auto& object) {
        if (!object)
            return;
        try {
            object->SetHost(FromUtf8(Stored));
            if (object->Host().empty())
                object->SetHost(fallback);
        } catch (const std::exception&) {
            object->SetHost(fallback);
        }
    };
    apply(TarvikObject);
    apply(AddressObject);
}

std::string TFormMain::HostWddx() const
{
    return TarvikObject ? Narrow(TarvikObject->Host()) : config::WddxHost();
}

void TFormMain::HostWddxChanged(bool WebFollows)
{
    if (WebFollows)
        HostWeb = HostWddx();
    if (TarvikObject)
        QGuiApplication::setApplicationDisplayName(ApplicationTitle(QString::fromStdString(HostWddx())));
}

void TFormMain::WriteSettings()
{
    // One guard for all: the first write that fails ends the writing, and the values after it stay as they were.
    try {
        TRegistry& key = *SettingsKey;
        key.WriteString("User", ToStored(FUi->EditUser->text()));
        key.WriteString("Pass", ToStored(FUi->EditPass->text()));
        key.WriteBool("SSL", FUi->CheckBoxSSL->isChecked());
        key.WriteBool("IgnoreInvalidCerts", FUi->CheckBoxIgnoreInvalidCerts->isChecked());
        key.WriteString("ProxyHost", ToStored(FUi->EditProxyHost->text()));
        key.WriteInteger("ProxyPort", ProxyPortValue(FUi->EditProxyPort->text()));
        key.WriteString("ProxyUser", ToStored(FUi->EditProxyUser->text()));
        key.WriteString("ProxyPass", ToStored(FUi->EditProxyPass->text()));
        if (TarvikObject)
            key.WriteString("HostWddx", ToUtf8(TarvikObject->Host()));
        key.WriteString("HostWeb", ToUtf8(Widen(HostWeb)));
        key.WriteBool("DoWeb", DoWeb);
        key.WriteInteger("C", FUi->RadioButtonDE->group()->checkedId());
        // Only once used: the settings of someone who never confirms stay as they were.
        if (OwnVatId != FOwnVatIdRead)
            key.WriteString("OwnVatId", ToStored(OwnVatId));
    } catch (const std::exception&) {
    }
}

bool TFormMain::FormCloseQuery()
{
    // A window never shown holds nothing of its own to keep.
    if (FBuilt)
        WriteSettings();
    SettingsKey->CloseKey();
    TarvikObject = {};
    TarvikService.reset();
    TarvikServiceObject.reset();
    AddressObject = {};
    AddressService.reset();
    AddressServiceObject.reset();
    UStIDObject = {};
    return true;
}

void TFormMain::closeEvent(QCloseEvent* Event)
{
    const bool hadObjects = static_cast<bool>(TarvikObject);
    const WideString tarvikHost = hadObjects ? TarvikObject->Host() : WideString();
    const WideString addressHost = hadObjects ? AddressObject->Host() : WideString();
    Guarded(this, [this] { FormCloseQuery(); });
    if (TerminateApplication()) {
        Event->accept();
        return;
    }
    // The user keeps the window open for the clients: it gets its key, objects and proxies back as they were.
    Event->ignore();
    Guarded(this, [&] {
        SettingsKey->OpenKey(kSettingsKey, true);
        if (!hadObjects)
            return;
        CreateObjects();
        TarvikObject->SetHost(tarvikHost);
        AddressObject->SetHost(addressHost);
        EditProxyChange();
    });
}

int32_t TFormMain::CurrentSSLMode() const
{
    return SSLModeOf(FUi->CheckBoxSSL->isChecked(), FUi->CheckBoxIgnoreInvalidCerts->isChecked());
}

QString TFormMain::LandText() const
{
    const QAbstractButton* selected = FUi->RadioButtonDE->group()->checkedButton();
    return selected ? WithoutAccessKeys(selected->text()) : QString();
}

QString TFormMain::User() const
{
    return FUi->EditUser->text();
}

QString TFormMain::Pass() const
{
    return FUi->EditPass->text();
}

int32_t TFormMain::Id() const
{
    return StrToIntDef(LabeledEditId->text().toStdString(), 0);
}

QString TFormMain::Name() const
{
    return LabeledEditName->text();
}

TServiceSettings TFormMain::ServiceSettings() const
{
    return {HostWeb,
            FUi->CheckBoxSSL->isChecked(),
            FUi->EditProxyHost->text().toStdU16String(),
            FUi->EditProxyPort->text().toStdU16String(),
            FUi->EditProxyUser->text().toStdU16String(),
            FUi->EditProxyPass->text().toStdU16String()};
}

bool TFormMain::EditProxyPortKeyPress(const QKeyEvent& Event) const
{
    return !ProxyPortKeyPasses(Event.text(), Event.modifiers());
}

void TFormMain::EditProxyChange()
{
    if (!TryStrToInt(FUi->EditProxyPort->text().toStdString()))
        FUi->EditProxyPort->clear();
    const bool proxy = !FUi->EditProxyHost->text().isEmpty() && !FUi->EditProxyPort->text().isEmpty();
    const WideString host = proxy ? FUi->EditProxyHost->text().toStdU16String() : WideString();
    const int32_t port = proxy ? ProxyPortValue(FUi->EditProxyPort->text()) : 0;
    const WideString user = proxy ? FUi->EditProxyUser->text().toStdU16String() : WideString();
    const WideString pass = proxy ? FUi->EditProxyPass->text().toStdU16String() : WideString();
    if (TarvikObject)
        TarvikObject->SetProxy(host, port, user, pass);
    if (AddressObject)
        AddressObject->SetProxy(host, port, user, pass);
    if (UStIDObject)
        UStIDObject->SetProxy(host, port, user, pass);
}

void TFormMain::CheckBoxSSLClick()
{
    FUi->CheckBoxIgnoreInvalidCerts->setEnabled(FUi->CheckBoxSSL->isChecked());
}

QPushButton* TFormMain::Button(TDefaultButton Which) const
{
    static const char* const names[] = {"ButtonTarvik", "ButtonTarvikSearch", "ButtonAddress", "ButtonUStID"};
    return findChild<QPushButton*>(QString::fromLatin1(names[static_cast<int>(Which)]));
}

void TFormMain::SetDefaultButton(TDefaultButton Which)
{
    FDefaultButton = Which;
    for (TDefaultButton button :
         {TDefaultButton::Tarvik, TDefaultButton::TarvikSearch, TDefaultButton::Address, TDefaultButton::UStID})
        if (QPushButton* control = Button(button))
            control->setDefault(button == FDefaultButton);
}

void TFormMain::GroupBoxEnter(QGroupBox* Sender)
{
    const TGroup group = Sender == FUi->GroupBoxTarvik    ? TGroup::Tarvik
                         : Sender == FUi->GroupBoxAddress ? TGroup::Address
                                                          : TGroup::UStID;
    SetDefaultButton(DefaultButtonFor(group, FUi->PageControlTarvik->currentIndex()));
    if (auto* places = findChild<QComboBox*>(u"ComboBoxOrte"_s)) {
        places->hidePopup();
        if (places->currentIndex() < 0 && places->count() > 0)
            places->setCurrentIndex(0);
    }
}

void TFormMain::FocusChanged(QWidget* Old, QWidget* Now)
{
    Guarded(this, [&] {
        for (QGroupBox* group : {FUi->GroupBoxTarvik, FUi->GroupBoxAddress, FUi->GroupBoxUStID})
            if (Contains(group, Now) && !Contains(group, Old))
                GroupBoxEnter(group);
    });
}

void TFormMain::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() != Qt::Key_Return && Event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(Event);
        return;
    }
    // A focused button takes Enter itself; elsewhere Enter starts the panel's default button.
    QPushButton* button = qobject_cast<QPushButton*>(focusWidget());
    if (!button)
        button = Button(FDefaultButton);
    if (button && button->isEnabled() && button->isVisible())
        button->click();
}

void TFormMain::AskBankData()
{
    if (!TarvikObject)
        return;
    const bool proxy = !FUi->EditProxyHost->text().isEmpty() && !FUi->EditProxyPort->text().isEmpty();
    TStatusQuery query;
    query.Host = Narrow(TarvikObject->Host());
    query.SSLMode = CurrentSSLMode();
    if (proxy) {
        query.ProxyHost = Narrow(FUi->EditProxyHost->text().toStdU16String());
        query.ProxyPort = ProxyPortValue(FUi->EditProxyPort->text());
        query.ProxyUser = Narrow(FUi->EditProxyUser->text().toStdU16String());
        query.ProxyPass = Narrow(FUi->EditProxyPass->text().toStdU16String());
    }
    // The watcher goes with the window, and with it an answer that comes too late.
    delete FBankDataWatcher;
    FBankDataWatcher = new QFutureWatcher<std::string>(this);
    connect(FBankDataWatcher, &QFutureWatcher<std::string>::finished, this, [this, watcher = FBankDataWatcher] {
        FBankData = BankDataInfoOf(watcher->result());
        const TBankDataInfo& info = FBankData;
        QLabel* label = FUi->LabelBankData;
        label->setText(info.Text);
        label->setToolTip(info.ToolTip);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, info.Stale        ? QColor(Qt::red)
                                               : info.Superseded ? kSupersededColour
                                               : info.Known      ? QApplication::palette().color(QPalette::WindowText)
                                                            : QApplication::palette().color(QPalette::PlaceholderText));
        label->setPalette(palette);
    });
    FBankDataWatcher->setFuture(AskServiceStatus(query));
}

void TFormMain::ShowFormIntern()
{
    const bool wasRunning = Timer1->isActive();
    Timer1->stop();
    TFormIntern& form = *FFormIntern;
    form.LabeledEditWddxHost->setText(TarvikObject ? QString::fromStdU16String(TarvikObject->Host()) : QString());
    form.LabeledEditWebHost->setText(QString::fromStdU16String(Widen(HostWeb)));
    form.CheckBoxWddxTarvik->setChecked(RepeatWddxTarvik);
    form.CheckBoxWddxAddress->setChecked(RepeatWddxAddress);
    form.CheckBoxWebTarvik->setChecked(RepeatWebTarvik);
    form.CheckBoxWebAddress->setChecked(RepeatWebAddress);
    form.LabeledEditIntervall->setText(IntervalText(Timer1->interval()));
    form.CheckBoxGlobalWeb->setChecked(DoWeb);
    // The timer runs on after the dialog, also when applying it fails; the host or the service's bank data may have
    // changed in it.
    const TFinally resume([this, wasRunning] {
        AskBankData();
        if (Timer1->interval() != 0)
            Timer1->start();
        if (!Timer1->isActive() || !wasRunning)
            setWindowTitle(MonitorCaption(Timer1->isActive(), 0));
    });
    if (form.exec() != QDialog::Accepted)
        return;
    const WideString host = form.LabeledEditWddxHost->text().toStdU16String();
    const bool webFollowed = WebHostFollows(HostWeb, HostWddx());
    if (TarvikObject)
        TarvikObject->SetHost(host);
    if (AddressObject)
        AddressObject->SetHost(host);
    // A following web-services host left as the dialog showed it goes on following.
    const std::string web = Narrow(form.LabeledEditWebHost->text().toStdU16String());
    const bool webFollows = WebHostFollows(web, HostWddx()) || (webFollowed && web == HostWeb);
    HostWeb = web;
    HostWddxChanged(webFollows);
    RepeatWddxTarvik = form.CheckBoxWddxTarvik->isChecked();
    RepeatWddxAddress = form.CheckBoxWddxAddress->isChecked();
    RepeatWebTarvik = form.CheckBoxWebTarvik->isChecked();
    RepeatWebAddress = form.CheckBoxWebAddress->isChecked();
    Timer1->setInterval(static_cast<int>(form.Interval()));
    DoWeb = form.CheckBoxGlobalWeb->isChecked();
    PassCount = 0;
}

void TFormMain::Timer1Timer()
{
    if (FInPass)
        return;
    FInPass = true;
    const TFinally done([this] { FInPass = false; });
    ++PassCount;
    setWindowTitle(MonitorCaption(true, PassCount));
    // An error ends the pass; passes falling due while its message is open are dropped as well.
    Guarded(this, [this] {
        if (RepeatWddxTarvik)
            FPanelTarvik->CheckAccountWddx();
        if (RepeatWebTarvik)
            FPanelTarvik->CheckAccountWeb();
        if (RepeatWddxAddress)
            FPanelAddress->CheckAddressWddx();
        if (RepeatWebAddress)
            FPanelAddress->CheckAddressWeb();
    });
}

void TFormMain::ShowInfoUrl()
{
    QLabel* link = FUi->LabelOrvelWddx2;
    link->setText(link->fontMetrics().elidedText(link->toolTip(), Qt::ElideMiddle, link->contentsRect().width()));
}

void TFormMain::LabelOrvelWddx2Click()
{
    QDesktopServices::openUrl(QUrl(InfoUrl()));
}

QString TFormMain::InfoUrl() const
{
    const std::string configured = config::InfoUrl();
    if (!configured.empty())
        return QString::fromStdString(configured);
    return QUrl::fromLocalFile(ReadmeFile(QCoreApplication::applicationDirPath())).toString();
}

void TFormMain::LabelOrvelWddx2MouseEnter()
{
    SavedCursor = FUi->LabelOrvelWddx2->cursor();
    FUi->LabelOrvelWddx2->setCursor(Qt::PointingHandCursor);
    SetLinkColour(QColor(0, 0, 255));
}

void TFormMain::LabelOrvelWddx2MouseLeave()
{
    FUi->LabelOrvelWddx2->setCursor(SavedCursor);
    // The desktop's colour for links stands for the hot-light colour.
    SetLinkColour(QApplication::palette().color(QPalette::Link));
}

void TFormMain::SetLinkColour(const QColor& Colour)
{
    QPalette palette = FUi->LabelOrvelWddx2->palette();
    palette.setColor(QPalette::WindowText, Colour);
    FUi->LabelOrvelWddx2->setPalette(palette);
}

void TFormMain::PreviewKeys(QWidget* Widget)
{
    // Only the window's own controls; the dialogs over it are windows of their own.
    if (Widget->window() != this)
        return;
    Widget->installEventFilter(this);
    for (QWidget* child : Widget->findChildren<QWidget*>())
        if (child->window() == this)
            child->installEventFilter(this);
}

bool TFormMain::eventFilter(QObject* Watched, QEvent* Event)
{
    const QEvent::Type type = Event->type();
    if (type == QEvent::ChildAdded) {
        // Controls that a panel adds later are previewed as well.
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(Event)->child()))
            PreviewKeys(child);
    } else if (type == QEvent::KeyRelease && Watched == QApplication::focusWidget()) {
        // A key event travels up from the focused control; the window sees it once, at its first stop.
        const auto* key = static_cast<QKeyEvent*>(Event);
        if (!key->isAutoRepeat())
            emit FormKeyUp(key->key(), key->modifiers());
    }
    if (Watched == FUi->EditProxyPort && type == QEvent::KeyPress)
        return EditProxyPortKeyPress(*static_cast<QKeyEvent*>(Event));
    if (Watched == FUi->LabelOrvelWddx2) {
        switch (type) {
        case QEvent::Enter:
            LabelOrvelWddx2MouseEnter();
            break;
        case QEvent::Leave:
            LabelOrvelWddx2MouseLeave();
            break;
        case QEvent::Resize:
            ShowInfoUrl();
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton)
                LabelOrvelWddx2Click();
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(Event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                LabelOrvelWddx2Click();
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

} // namespace orvel
