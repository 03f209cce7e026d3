#pragma once
// The class objects and live objects of a server on the D-Bus session bus, served on the Qt event loop of the main
// thread one call at a time. Paths and interfaces come from the type library; see README.md in this folder.

#include "server/ComServer.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QTimer>

#include <map>

namespace orvel {

class TDBusExport final : public QDBusVirtualObject
{
public:
    TDBusExport(TComServer& Server, const QDBusConnection& Connection);
    // Leaves the bus; the references clients still hold go with the object table.
    ~TDBusExport() override;

    // Serves the class objects' paths, then asks for the well-known names. Returns the names the process got.
    QStringList Start();
    // All well-known names (the ProgIDs) at once, so that clients see the classes become available together.
    QStringList RequestNames();
    // Gives the names back, so that later first calls start a new process, and returns once every call routed here
    // before has been served.
    void ReleaseNames();

    QString introspect(const QString& Path) const override;
    bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override;

private:
    // Each object is created for one client and holds that client's single reference.
    struct TExported
    {
        TAutoObjectPtr Object;
        QString Holder; // the client's unique bus name
    };

    const TAutoObjectFactory* FactoryAt(const QString& Path) const;
    void CreateInstance(const QDBusMessage& Message, const TAutoObjectFactory& Factory);
    void Release(const QDBusMessage& Message, const QString& Path);

    void WatchHolder(const QString& Name);
    void DropHolder(const QString& Name);
    void DropObject(const QString& Path);
    void GiveBackMemory(size_t Dropped);

    TComServer& FServer;
    QDBusConnection FConnection;
    QDBusServiceWatcher FWatcher;
    std::map<QString, TExported> FObjects; // by object path
    std::map<const TAutoObjectFactory*, int> FLastNumber;
    QStringList FNames;
    QTimer FTrim;
};

} // namespace orvel
