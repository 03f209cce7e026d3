#include "ui/OrvelUtils.h"

#include "platform/Codepage.h"

#include <QApplication>
#include <QMessageBox>

namespace orvel {

void ShowException(QWidget* Parent, const std::exception& Error)
{
    QMessageBox::critical(Parent, QGuiApplication::applicationDisplayName(),
                          QString::fromStdU16String(Widen(Error.what())));
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

} // namespace orvel
