#pragma once
// One window per session: the window of a direct start holds a name on the session bus, and a later direct start asks
// that window to come to the front instead of opening another.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace orvel {

class TSingleWindow : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "OrvelWddx.Window")

public:
    static constexpr char kService[] = "OrvelWddx.Window";
    static constexpr char kPath[] = "/Window";

    explicit TSingleWindow(const QDBusConnection& Bus, QObject* Parent = nullptr);

    enum class TClaim {
        Own,      // this process holds the name (or there is no bus): it opens its window
        HandedOn, // the open window was asked to come to the front and did
        NoAnswer, // a window holds the name but did not answer
    };
    TClaim Claim();
    // The window that Activate brings to the front.
    void SetWindow(QWidget* Window) { FWindow = Window; }

public slots:
    // Shows the window, restored from the task bar, in front and active.
    Q_SCRIPTABLE void Activate();

private:
    QDBusConnection FBus;
    QPointer<QWidget> FWindow;
};

} // namespace orvel
