#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <gtest/gtest.h>

#include <string>

// Named connections of a test to a private bus, each dropped when this goes
// (after whatever used them).
class TBusConnections
{
public:
    TBusConnections() = default;
    TBusConnections(const TBusConnections&) = delete;
    TBusConnections& operator=(const TBusConnections&) = delete;
    ~TBusConnections()
    {
        for (const QString& name : FNames)
            QDBusConnection::disconnectFromBus(name);
    }

    QDBusConnection Connect(const std::string& address, const char* name)
    {
        FNames << QString::fromLatin1(name);
        QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(address), FNames.last());
        EXPECT_TRUE(connection.isConnected()) << name;
        return connection;
    }

private:
    QStringList FNames;
};
