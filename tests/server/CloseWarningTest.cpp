#include "server/OrvelWddx_TLB.h"
#include "server/Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvel {
namespace {

QApplication& App()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_server";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// What the warning showed, and the button pressed on it.
struct Shown
{
    bool Asked = false;
    QString Caption, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
    bool DefaultIsNo = false;
    Qt::WindowModality Modality = Qt::NonModal;
};

Shown CloseWith(QMessageBox::StandardButton Answer, bool& Ends)
{
    Shown shown;
    QObject scope; // a close that does not ask never runs the timer; it goes with this function
    QTimer::singleShot(0, &scope, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown.Asked = true;
        shown.Caption = box->windowTitle();
        shown.Text = box->text();
        shown.Icon = box->icon();
        shown.Buttons = box->standardButtons();
        shown.DefaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        shown.Modality = box->windowModality();
        box->button(Answer)->click();
    });
    Ends = TerminateApplication();
    return shown;
}

TEST(CloseWarningTest, StandaloneCloseAsksWhileClientsHoldObjects)
{
    App();
    TComServer server(OrvelWddxTypeLibrary());
    RegisterClassFactories(server);
    server.SetStartMode(TStartMode::Standalone);

    bool ends = false;
    EXPECT_FALSE(CloseWith(QMessageBox::No, ends).Asked);
    EXPECT_TRUE(ends);

    ITarvik held = CoTarvik::Create();
    Shown shown = CloseWith(QMessageBox::No, ends);
    ASSERT_TRUE(shown.Asked);
    EXPECT_FALSE(ends);
    EXPECT_EQ(shown.Caption, QString::fromUtf8("Warnung des COM-Servers"));
    EXPECT_EQ(shown.Text, QString::fromUtf8(
                              "Diese Anwendung enthält noch aktive COM-Objekte.Mindestens ein Client verweist noch auf "
                              "diese Objekte,so daß manuelles Schließen dieser Anwendung dazu führen könnte, daß die "
                              "Client-Anwendungennicht korrekt funktionieren.\r\n\r\nSind Sie sicher, daß Sie diese "
                              "Anwendung schließen möchten?"));
    EXPECT_EQ(shown.Icon, QMessageBox::Warning);
    EXPECT_EQ(shown.Buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(shown.DefaultIsNo);
    EXPECT_EQ(shown.Modality, Qt::ApplicationModal);

    EXPECT_TRUE(CloseWith(QMessageBox::Yes, ends).Asked);
    EXPECT_TRUE(ends);
}

} // namespace
} // namespace orvel
