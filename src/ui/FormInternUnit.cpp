#include "ui/FormInternUnit.h"

#include "server/Registration.h"
#include "ui/OrvelUtils.h"
#include "ui_FormInternUnit.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

#include <limits>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {
// Qt's timer counts milliseconds in a signed 32-bit number: a little under 25 days.
constexpr qlonglong kMaxSeconds = std::numeric_limits<int>::max() / 1000;
} // namespace

std::optional<uint32_t> IntervalOf(const QString& Seconds)
{
    const QString text = Seconds.trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const qlonglong seconds = text.toLongLong(&ok);
    if (!ok || seconds < 0 || seconds > kMaxSeconds)
        return std::nullopt;
    return static_cast<uint32_t>(seconds * 1000);
}

QString IntervalText(int Milliseconds)
{
    return QString::number(static_cast<uint32_t>(Milliseconds) / 1000);
}

bool IsInternKey(int Key, Qt::KeyboardModifiers Modifiers)
{
    const Qt::KeyboardModifiers held = Modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    return Key == Qt::Key_F11 && held == (Qt::ControlModifier | Qt::ShiftModifier);
}

QString MonitorCaption(bool Running, int32_t Pass)
{
    if (!Running)
        return u"OrvelWddx"_s;
    if (Pass == 0)
        return u"OrvelWddx (Automatik-Modus)"_s;
    return u"OrvelWddx (Automatik-Modus, "_s + QString::number(Pass) + u". Durchlauf)"_s;
}

TFormIntern::TFormIntern(QWidget* Parent) : QDialog(Parent), FUi(std::make_unique<Ui::TFormIntern>())
{
    FUi->setupUi(this);
    LabeledEditWddxHost = FUi->LabeledEditWddxHost;
    LabeledEditWebHost = FUi->LabeledEditWebHost;
    CheckBoxWddxTarvik = FUi->CheckBoxWddxTarvik;
    CheckBoxWddxAddress = FUi->CheckBoxWddxAddress;
    CheckBoxWebTarvik = FUi->CheckBoxWebTarvik;
    CheckBoxWebAddress = FUi->CheckBoxWebAddress;
    LabeledEditIntervall = FUi->LabeledEditIntervall;
    LabeledEditId = FUi->LabeledEditId;
    LabeledEditName = FUi->LabeledEditName;
    CheckBoxGlobalWeb = FUi->CheckBoxGlobalWeb;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    FUi->LabelFehler->hide();
    QPalette palette = FUi->LabelFehler->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    FUi->LabelFehler->setPalette(palette);
    FUi->ProgressUpdate->hide();
    FUi->LabelUpdate->hide();
    setFixedSize(sizeHint());
    CentreOnScreen(*this);
    connect(FUi->ButtonOk, &QPushButton::clicked, this, &TFormIntern::accept);
    connect(FUi->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(FUi->LabeledEditIntervall, &QLineEdit::textChanged, FUi->LabelFehler, &QWidget::hide);
    connect(FUi->ButtonBankdaten, &QPushButton::clicked, this, &TFormIntern::LoadBankData);
    connect(FUi->ButtonUpdateData, &QPushButton::clicked, this, &TFormIntern::UpdateBankData);
    ServiceProgramPath = QString::fromStdString(ServiceProgram(QCoreApplication::applicationFilePath().toStdString()));
    ChooseBankFile = [this] {
        return QFileDialog::getOpenFileName(
            this, u"Bankdaten laden"_s, QString(),
            u"Bankleitzahlendatei der Bundesbank (blz_*.txt *.txt);;Alle Dateien (*)"_s);
    };
}

void TFormIntern::LoadBankData()
{
    const QString file = ChooseBankFile();
    if (file.isEmpty())
        return;
    // The service's own check and install, so that the window and the command refuse the same files.
    QProcess install;
    install.start(ServiceProgramPath, {u"--install-bank-file"_s, file});
    const bool ran =
        !ServiceProgramPath.isEmpty() && install.waitForFinished(60000) && install.exitStatus() == QProcess::NormalExit;
    QString said = QString::fromUtf8(install.readAllStandardError()).trimmed();
    if (ran && install.exitCode() == 0)
        QMessageBox::information(this, u"Bankdaten laden"_s,
                                 u"Die Bankdaten sind eingespielt: "_s +
                                     QString::fromUtf8(install.readAllStandardOutput()).trimmed() +
                                     u"\nDer laufende Prüfdienst verwendet sie ohne Neustart, sobald ihr Tag "
                                     "gekommen ist."_s);
    else
        QMessageBox::warning(this, u"Bankdaten laden"_s,
                             u"Die Datei wurde nicht eingespielt:\n"_s +
                                 (ran ? said : u"Das Programm orvelwddx-service fehlt."_s));
}

void TFormIntern::UpdateBankData()
{
    if (ServiceProgramPath.isEmpty()) {
        ShowUpdateResult(false, u"Das Programm orvelwddx-service fehlt."_s);
        return;
    }
    // The service's program fetches, checks and installs; the window only shows that it runs and what it said.
    FUpdate = new QProcess(this);
    FUpdate->setProcessChannelMode(QProcess::MergedChannels);
    connect(FUpdate, &QProcess::finished, this, [this](int Code, QProcess::ExitStatus Status) {
        const QString said = QString::fromUtf8(FUpdate->readAll()).trimmed();
        FUpdate->deleteLater();
        FUpdate = nullptr;
        ShowUpdateResult(Status == QProcess::NormalExit && Code == 0, said);
    });
    connect(FUpdate, &QProcess::errorOccurred, this, [this](QProcess::ProcessError Error) {
        if (Error != QProcess::FailedToStart)
            return;
        FUpdate->deleteLater();
        FUpdate = nullptr;
        ShowUpdateResult(false, u"orvelwddx-service startet nicht: "_s + ServiceProgramPath);
    });
    FUi->ButtonUpdateData->setEnabled(false);
    FUi->ProgressUpdate->show();
    FUi->LabelUpdate->setPalette(palette());
    FUi->LabelUpdate->setText(u"Die Bankdaten werden geladen und geprüft …"_s);
    FUi->LabelUpdate->show();
    setFixedSize(sizeHint());
    FUpdate->start(ServiceProgramPath, {u"--update-data"_s});
}

void TFormIntern::ShowUpdateResult(bool Ok, const QString& Text)
{
    FUi->ButtonUpdateData->setEnabled(true);
    FUi->ProgressUpdate->hide();
    QPalette colours = FUi->LabelUpdate->palette();
    colours.setColor(QPalette::WindowText, Ok ? QColor(0, 128, 0) : QColor(255, 0, 0));
    FUi->LabelUpdate->setPalette(colours);
    FUi->LabelUpdate->setText(Text);
    FUi->LabelUpdate->show();
    setFixedSize(sizeHint());
}

TFormIntern::~TFormIntern()
{
    // A running update ends with the window; its answer must not reach the widgets going away.
    if (FUpdate)
        FUpdate->disconnect(this);
}

void TFormIntern::accept()
{
    // An interval that cannot be a timer's stays in the field to be mended, rather than becoming another one.
    const std::optional<uint32_t> interval = IntervalOf(FUi->LabeledEditIntervall->text());
    if (!interval) {
        FUi->LabelFehler->show();
        FUi->LabeledEditIntervall->setFocus();
        FUi->LabeledEditIntervall->selectAll();
        return;
    }
    FInterval = *interval;
    QDialog::accept();
}

void TFormIntern::showEvent(QShowEvent* Event)
{
    FUi->LabelFehler->hide();
    QDialog::showEvent(Event);
    FUi->LabeledEditWddxHost->setFocus();
}

} // namespace orvel
