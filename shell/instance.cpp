// The single-instance rule on a per-user local socket. A socket left by a
// crashed instance answers no connection and is removed before listening.
#include "shell/instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

#include <cstdlib>
#include <unistd.h>

namespace tarvex {

namespace {

QString g_name;

QString instance_name() {
    QString name = QString("tarvex-%1").arg(getuid());
    const char* suffix = std::getenv("TARVEX_INSTANCE");
    if (suffix && *suffix) name += QString("-") + QString::fromLocal8Bit(suffix);
    return name;
}

} // namespace

bool instance_claim(QObject* parent, std::function<void()> on_raise) {
    g_name = instance_name();
    {
        QLocalSocket probe;
        probe.connectToServer(g_name);
        if (probe.waitForConnected(1000)) {
            probe.write("raise\n");
            probe.flush();
            probe.waitForBytesWritten(1000);
            probe.disconnectFromServer();
            return false;
        }
    }
    QLocalServer::removeServer(g_name);
    auto* server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(g_name)) return true; // run without the rule rather than not at all
    QObject::connect(server, &QLocalServer::newConnection, server, [server, on_raise] {
        while (QLocalSocket* s = server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            if (on_raise) on_raise();
        }
    });
    return true;
}

void instance_release() {
    if (!g_name.isEmpty()) QLocalServer::removeServer(g_name);
}

} // namespace tarvex
