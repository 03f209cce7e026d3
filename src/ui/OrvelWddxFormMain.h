#pragma once
// The main window: the connection settings, their load from and save to the per-user registry, the window's own
// check objects and web-services proxies, and the frame the panels sit in. The panels reach the shared state
// through the public members.

#include "platform/Registry.h"
#include "server/OrvelWddx_TLB.h"
#include "soap/IAddress3Unit.h"
#include "soap/ITarvikUnit.h"
#include "ui/BankDataInfo.h"

#include <QCursor>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

template <typename T> class QFutureWatcher;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTimer;

namespace Ui {
class TFormMain;
}

namespace orvel {

class TPanelTarvik;
class TPanelTarvikSearch;
class TPanelAddress;
class TPanelUStID;
class TFormIntern;

// The SSLMode of the objects for the two TLS boxes: 0 off, 1 with certificate enforcement, 2 accepting any.
int32_t SSLModeOf(bool SSL, bool IgnoreInvalidCerts);
// The port field's text for a stored port: 0 shows as an empty field.
QString ProxyPortText(int32_t StoredPort);
// The port stored for the field's text: a text that is not a whole number stores 0.
int32_t ProxyPortValue(const QString& Text);
// Whether a key reaches the port field: digits, keys without a printable character (Backspace) and key combinations
// (Ctrl+V, whose paste goes through EditProxyChange).
bool ProxyPortKeyPasses(const QString& Text, Qt::KeyboardModifiers Modifiers);
// The caption of a radio item as a country: "&DE" gives "DE".
QString WithoutAccessKeys(QString Caption);

// The application title, which names the WDDX host the window's checks go to.
QString ApplicationTitle(const QString& Host);
// The README that the information link opens unless ORVELWDDX_INFO_URL names a page: the installed one beside the
// program's bin folder ProgramDir, else the one of the source tree the program was built from.
QString ReadmeFile(const QString& ProgramDir);
// Whether the web-services host follows the WDDX host: not set (Web empty), or set to that very host (as the window
// writes it while the two go together).
bool WebHostFollows(const std::string& Web, const std::string& Wddx);

// The button that Enter starts, by the group the focus entered and the tab the account group shows.
enum class TDefaultButton { Tarvik, TarvikSearch, Address, UStID };
enum class TGroup { Tarvik, Address, UStID };
TDefaultButton DefaultButtonFor(TGroup Group, int TarvikTab);

class TFormMain : public QWidget
{
    Q_OBJECT

public:
    // In a standalone start it builds the window and runs FormCreate at once; otherwise at its first show, before
    // which it has no controls, panels or dialogs. Registry is the settings store (the user's own file unless a caller
    // passes another).
    explicit TFormMain(std::unique_ptr<TRegistry> Registry = std::make_unique<TRegistry>(), QWidget* Parent = nullptr);
    ~TFormMain() override;

    // Operations of the frame that the panels use.
    int32_t CurrentSSLMode() const;
    // Empty when RadioGroupLand has no selected item (after a negative stored index).
    QString LandText() const;
    TDefaultButton DefaultButton() const { return FDefaultButton; }
    void SetDefaultButton(TDefaultButton Which);
    // The service account of every check and search, as the fields hold it at the moment of the call.
    QString User() const;
    QString Pass() const;
    // The number and name the account checks pass along: LabeledEditId read as a whole number (0 when it is none)
    // and LabeledEditName.
    int32_t Id() const;
    QString Name() const;
    // The WDDX host of the window's checks: its objects' host, else the configured default.
    std::string HostWddx() const;
    // The settings the web-services proxies get before each call.
    TServiceSettings ServiceSettings() const;

    // The window's state shared by its panels; objects and proxies only in a standalone start.
    ITarvik TarvikObject;
    std::shared_ptr<SoapClient> TarvikServiceObject;
    std::shared_ptr<ITarvikUnit::ITarvik> TarvikService;
    // The web-services host; it follows the WDDX host of the objects until it is set to another one.
    std::string HostWeb;
    IAddress AddressObject;
    std::shared_ptr<SoapClient> AddressServiceObject;
    std::shared_ptr<IAddress3> AddressService;
    IUStID UStIDObject;
    // The business's own VAT id for qualified confirmations, kept in the settings.
    QString OwnVatId;
    // The monitoring mode, off at every start.
    int32_t PassCount = 0;
    bool RepeatWddxTarvik = false;
    bool RepeatWebTarvik = false;
    bool RepeatWddxAddress = false;
    bool RepeatWebAddress = false;
    bool DoWeb = false;
    // The repetition of the monitoring mode; its interval is 0 and it stands still while the mode is off.
    QTimer* Timer1;
    // Fields of the internal settings window, read by every account check; never stored.
    QLineEdit* LabeledEditId = nullptr;
    QLineEdit* LabeledEditName = nullptr;

    // The panels; the monitoring mode runs their checks.
    TPanelTarvik& PanelTarvik() const { return *FPanelTarvik; }
    TPanelTarvikSearch& PanelTarvikSearch() const { return *FPanelTarvikSearch; }
    TPanelAddress& PanelAddress() const { return *FPanelAddress; }
    TPanelUStID& PanelUStID() const { return *FPanelUStID; }
    TFormIntern& FormIntern() const { return *FFormIntern; }

    // The internal settings dialog: fills it from the window, shows it modally and applies it on OK; the timer pauses
    // meanwhile.
    void ShowFormIntern();
    // One pass of the monitoring mode. A pass that falls due while one runs (through the event pass inside a check)
    // is dropped.
    void Timer1Timer();

    // Asks the checking service for its bank directory's date and shows it in the information area when it comes.
    void AskBankData();
    // What the service last said about its data (see AskBankData).
    const TBankDataInfo& BankData() const { return FBankData; }

    // Saves the settings and releases the objects and proxies; closing is never refused.
    bool FormCloseQuery();

    void setVisible(bool Visible) override;

signals:
    // Key preview: a key released anywhere in the window, before the control that has the focus sees it.
    void FormKeyUp(int Key, Qt::KeyboardModifiers Modifiers);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // The form, its panels and dialogs, then FormCreate; once.
    void Build();
    void FormCreate();
    void CreateObjects();
    void ReadSettings();
    void WriteSettings();
    void ApplyHostWddx(const std::string& Stored);
    // After the WDDX host changed: the title names it, and the web-services host takes it when WebFollows.
    void HostWddxChanged(bool WebFollows);
    QString InfoUrl() const;
    // True when the key is discarded.
    bool EditProxyPortKeyPress(const QKeyEvent& Event) const;
    void EditProxyChange();
    void CheckBoxSSLClick();
    void GroupBoxEnter(QGroupBox* Sender);
    void ShowInfoUrl();
    void SetLinkColour(const QColor& Colour);
    void LabelOrvelWddx2Click();
    void LabelOrvelWddx2MouseEnter();
    void LabelOrvelWddx2MouseLeave();
    void FocusChanged(QWidget* Old, QWidget* Now);
    void PreviewKeys(QWidget* Widget);
    QPushButton* Button(TDefaultButton Which) const;

    std::unique_ptr<Ui::TFormMain> FUi;
    TPanelTarvik* FPanelTarvik = nullptr;
    TPanelTarvikSearch* FPanelTarvikSearch = nullptr;
    TPanelAddress* FPanelAddress = nullptr;
    TPanelUStID* FPanelUStID = nullptr;
    TFormIntern* FFormIntern = nullptr; // a window of its own over the main window, which owns it
    bool FInPass = false;
    std::unique_ptr<TRegistry> SettingsKey;
    QCursor SavedCursor;
    TDefaultButton FDefaultButton = TDefaultButton::Tarvik;
    bool FClosed = false;
    bool FBuilt = false;
    QString FOwnVatIdRead;                                   // OwnVatId as the settings held it
    QFutureWatcher<std::string>* FBankDataWatcher = nullptr; // the latest question; earlier answers are dropped
    TBankDataInfo FBankData;
};

} // namespace orvel
