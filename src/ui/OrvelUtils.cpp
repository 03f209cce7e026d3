#include "ui/OrvelUtils.h"

#include "platform/Codepage.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include <algorithm>

namespace orvel {

void ShowException(QWidget* Parent, const std::exception& Error)
{
    QMessageBox::critical(Parent, QGuiApplication::applicationDisplayName(),
                          QString::fromStdU16String(Widen(Error.what())));
}

void LoadQtGermanTranslations()
{
    const QString name = QStringLiteral("OrvelQtGermanTranslations");
    if (qApp->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly))
        return;
    auto* translator = new QTranslator(qApp);
    translator->setObjectName(name);
    if (translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

TWaitCursor::TWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TWaitCursor::~TWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

void ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

QString ServiceDownHint(int32_t Result, const QString& Resulttext, const QString& Host)
{
    // The request cycle's transport failure with the socket error of a refused connection.
    if (Result != -200 || !Resulttext.startsWith(QStringLiteral("Socket-Fehler # 10061")))
        return {};
    return QStringLiteral("Auf %1 antwortet kein Prüfdienst. Den lokalen Prüfdienst starten: ./scripts/run oder "
                          "systemctl --user start orvelwddx-service.socket")
        .arg(Host);
}

QString ServiceDownLine()
{
    return QStringLiteral("Kein Prüfdienst – starten: ./scripts/run");
}

void CentreOnScreen(QWidget& Window)
{
    if (const QScreen* screen = Window.screen())
        Window.move(screen->availableGeometry().center() - Window.rect().center());
}

bool IsAllDigits(const QString& Text)
{
    return std::all_of(Text.begin(), Text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

TFilteredText FilterUpperAlnum(const QString& Text, int Caret)
{
    TFilteredText filtered;
    filtered.Text.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        QChar c = Text.at(i);
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z')) {
            filtered.Text.append(c);
            if (i < Caret)
                ++filtered.Caret;
        }
    }
    return filtered;
}

void FilterUpperAlnum(QLineEdit& Edit)
{
    const TFilteredText filtered = FilterUpperAlnum(Edit.text(), Edit.cursorPosition());
    if (filtered.Text == Edit.text())
        return;
    Edit.setText(filtered.Text);
    Edit.setCursorPosition(filtered.Caret);
}

} // namespace orvel
