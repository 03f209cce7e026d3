#pragma once
// What the window tests share: controls by their names, the label check, modal windows answered while an action runs
// and screenshots into the build tree. Header only: the support library itself has no Qt.

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>

#include "server/OrvelWddx_TLB.h"

#include <functional>
#include <memory>

namespace orvel::test {

template <class T> T* Child(const QWidget& Window, const char* Name)
{
    T* child = Window.findChild<T*>(QString::fromLatin1(Name));
    if (!child)
        qFatal("no control %s", Name);
    return child;
}

inline QLineEdit* Edit(const QWidget& Window, const char* Name)
{
    return Child<QLineEdit>(Window, Name);
}

// A label's caption, the field it focuses and the name a screen reader hears for that field.
inline void CheckLabel(const QWidget& Window, const char* Label, const QString& Caption, const char* Field)
{
    auto* label = Child<QLabel>(Window, Label);
    QCOMPARE(label->text(), Caption);
    QCOMPARE(label->buddy(), Edit(Window, Field));
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(Edit(Window, Field));
    QCOMPARE(access->text(QAccessible::Name), QString(Caption).remove(u'&'));
}

// Runs Respond on the first modal window of type T that appears while Action runs; true when one appeared. It polls,
// because the window's checks let pending events run once before they call, which would fire a single-shot timer
// too early.
template <class T> bool WhileModal(const std::function<void()>& Action, const std::function<void(T&)>& Respond)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll.stop();
            seen = true;
            Respond(*modal);
            // A failed comparison in Respond returns early; the window must still go, or the test hangs.
            if (modal->isVisible())
                modal->close();
        }
    });
    poll.start();
    Action();
    return seen;
}

// The class objects of a program started directly, so that a window creates its own objects.
inline std::unique_ptr<TComServer> StandaloneServer()
{
    auto server = std::make_unique<TComServer>(OrvelWddxTypeLibrary());
    RegisterClassFactories(*server);
    server->SetStartMode(TStartMode::Standalone);
    return server;
}

// A settings folder of the test's own, for as long as the returned folder lives.
inline std::unique_ptr<QTemporaryDir> PrivateConfigHome()
{
    auto home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", home->path().toUtf8());
    return home;
}

// Saves a picture of Widget as Name in the build tree's screenshot folder.
inline void SaveScreenshot(QWidget& Widget, const QString& Name)
{
    QDir().mkpath(QString::fromLatin1(ORVEL_SCREENSHOT_DIR));
    const QString file = QString::fromLatin1(ORVEL_SCREENSHOT_DIR) + u'/' + Name;
    QVERIFY(Widget.grab().save(file));
    qInfo("screenshot: %s", qPrintable(file));
}

} // namespace orvel::test
