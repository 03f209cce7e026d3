#pragma once
// The internal settings window behind Ctrl+Shift+F11: hosts, the web-services switch, the number and name the account
// checks pass along, and the monitoring mode (which checks repeat, and how often).

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLineEdit;
class QProcess;

namespace Ui {
class TFormIntern;
}

namespace orvel {

// The timer interval in milliseconds for the seconds typed; none for a negative number, a text that is not a whole
// number or more seconds than the timer holds (2147483). An empty field is 0, no monitoring.
std::optional<uint32_t> IntervalOf(const QString& Seconds);
// The text the interval field shows for a timer interval: whole seconds.
QString IntervalText(int Milliseconds);
// Whether a released key opens the window: F11 with Ctrl and Shift, without Alt.
bool IsInternKey(int Key, Qt::KeyboardModifiers Modifiers);
// The main window's caption: off, just switched on (Pass 0) or after a pass.
QString MonitorCaption(bool Running, int32_t Pass);

class TFormIntern : public QDialog
{
    Q_OBJECT

public:
    explicit TFormIntern(QWidget* Parent = nullptr);
    ~TFormIntern() override;

    QLineEdit* LabeledEditWddxHost;
    QLineEdit* LabeledEditWebHost;
    QCheckBox* CheckBoxWddxTarvik;
    QCheckBox* CheckBoxWddxAddress;
    QCheckBox* CheckBoxWebTarvik;
    QCheckBox* CheckBoxWebAddress;
    QLineEdit* LabeledEditIntervall;
    QLineEdit* LabeledEditId;
    QLineEdit* LabeledEditName;
    QCheckBox* CheckBoxGlobalWeb;

    // "Bankdaten jetzt aktualisieren" runs the program at ServiceProgramPath with --update-data, showing that it runs
    // and then what it said, one line per source.
    // "Bankdaten laden…" asks this for the Bundesbank file (by default a file dialog; empty: none chosen) and hands
    // it to the local service's program at ServiceProgramPath to check and install.
    std::function<QString()> ChooseBankFile;
    QString ServiceProgramPath;

    // The interval the window was confirmed with, in milliseconds.
    uint32_t Interval() const { return FInterval; }

    void accept() override;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void LoadBankData();
    void UpdateBankData();
    void ShowUpdateResult(bool Ok, const QString& Text);

    std::unique_ptr<Ui::TFormIntern> FUi;
    uint32_t FInterval = 0;
    QProcess* FUpdate = nullptr; // while an update runs
};

} // namespace orvel
