// The single-instance rule on a local socket in the user's session. A later
// start connects, writes the web file's absolute name (nothing, to be
// raised only) and disconnects; the running instance takes everything it
// received once the peer is gone, so a name may hold any character, and
// cuts off a sender that writes more than a name can be. A
// socket left by a crashed instance answers no connection and is removed
// before listening.
#include "shell/instance.h"

#include "shell/panes.h"
#include "shell/recent_webs.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <memory>

namespace tarvex {

namespace {

// The socket this process listens on, "" when it does not.
QString g_path;

// A request longer than the longest path Linux accepts is no file name.
constexpr qint64 REQUEST_MAX = 4096;
// How long a later start waits for the running instance before it gives up
// and runs as an instance of its own.
constexpr int HANDOFF_WAIT_MS = 1000;

QString runtime_folder() {
    QString folder = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

// Sends the request to a running instance: false when none answered.
bool hand_over(const QString& path, const std::string& file) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(HANDOFF_WAIT_MS)) return false;
    if (!file.empty()) {
        QString absolute = QFileInfo(QString::fromStdString(file)).absoluteFilePath();
        socket.write(absolute.toUtf8());
    }
    socket.flush();
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(HANDOFF_WAIT_MS)) break;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(HANDOFF_WAIT_MS);
    return true;
}

void serve_connection(QLocalSocket* s, const InstanceRequest& on_request) {
    // The socket's own buffer would otherwise take in all a sender writes,
    // whatever part of it is read from there.
    s->setReadBufferSize(REQUEST_MAX + 1);
    auto received = std::make_shared<QByteArray>();
    auto take = [s, received] {
        if (received->size() > REQUEST_MAX) return;
        received->append(s->read(REQUEST_MAX + 1 - received->size()));
        // No file name is that long: the rest is not read, the sender cut off.
        if (received->size() > REQUEST_MAX) {
            s->abort();
            s->deleteLater();
        }
    };
    QObject::connect(s, &QLocalSocket::readyRead, s, take);
    QObject::connect(s, &QLocalSocket::disconnected, s, [s, received, take, on_request] {
        take();
        s->deleteLater();
        if (received->size() <= REQUEST_MAX && on_request) on_request(received->toStdString());
    });
    take();
}

} // namespace

std::string instance_socket_path() {
    QString folder = runtime_folder();
    if (folder.isEmpty()) return {};
    QString name = "tarvex";
    const char* suffix = std::getenv("TARVEX_INSTANCE");
    if (suffix && *suffix) name += QString("-") + QString::fromLocal8Bit(suffix);
    return QDir(folder).filePath(name + ".sock").toStdString();
}

bool instance_claim(QObject* parent, const std::string& file, InstanceRequest on_request) {
    QString path = QString::fromStdString(instance_socket_path());
    if (path.isEmpty()) return true; // no private folder: run without the rule
    if (hand_over(path, file)) return false;
    QLocalServer::removeServer(path);
    auto* server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) return true; // run without the rule rather than not at all
    g_path = path;
    QObject::connect(server, &QLocalServer::newConnection, server, [server, on_request] {
        while (QLocalSocket* s = server->nextPendingConnection())
            serve_connection(s, on_request);
    });
    return true;
}

void instance_release() {
    if (g_path.isEmpty()) return;
    QLocalServer::removeServer(g_path);
    g_path.clear();
}

void instance_serve(const std::string& file) {
    QMainWindow* w = shell_windows().main;
    if (!w) return;
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
    if (!file.empty()) recent_webs_open_later(file);
}

} // namespace tarvex
