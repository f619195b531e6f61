// Recent webs and dropped web files. The list lives only in QSettings, read
// and written at each use, so it follows whatever settings location the
// application (or a test) has chosen.
#include "shell/recent_webs.h"

#include "shell/commands.h"
#include "webfile/web_file.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QUrl>

namespace tarvex {

namespace {

const char* const RECENT_KEY = "recentWebs";

QPointer<QMainWindow> g_window;
QPointer<QMenu> g_menu;
QPointer<QAction> g_separator;
std::vector<QPointer<QAction>> g_actions;

QString organization() {
    QString org = QCoreApplication::organizationName();
    return org.isEmpty() ? QStringLiteral("Tarvex") : org;
}

QStringList stored() {
    QSettings settings(organization(), QStringLiteral("Tarvex"));
    return settings.value(RECENT_KEY).toStringList();
}

void store(const QStringList& list) {
    QSettings settings(organization(), QStringLiteral("Tarvex"));
    settings.setValue(RECENT_KEY, list);
}

QString absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

void rebuild_menu() {
    if (!g_menu) return;
    for (QPointer<QAction>& a : g_actions)
        if (a) {
            g_menu->removeAction(a);
            a->deleteLater();
        }
    g_actions.clear();
    QStringList list = stored();
    if (g_separator) g_separator->setVisible(!list.isEmpty());
    int n = 0;
    for (const QString& path : list) {
        QFileInfo info(path);
        QString name = info.fileName().replace("&", "&&");
        QString folder = QDir::toNativeSeparators(info.path()).replace("&", "&&");
        QAction* a =
            g_menu->addAction(QString("&%1 %2  (%3)").arg(QString::number(++n), name, folder));
        a->setObjectName("recent_web");
        a->setData(path);
        a->setStatusTip(path);
        std::string file = path.toStdString();
        QObject::connect(a, &QAction::triggered, g_menu, [file] {
            // A web that is gone leaves the list (the open reports it).
            if (!QFileInfo::exists(QString::fromStdString(file))) {
                QStringList now = stored();
                now.removeAll(QString::fromStdString(file));
                store(now);
            }
            dispatch_command(CMD_OPEN, NOTE_NONE, file);
        });
        g_actions.emplace_back(a);
    }
}

// Drags and drops anywhere in the main window (editors included, which
// would otherwise insert the file's URL as text).
class DropFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !g_window || widget->window() != g_window) return false;
        auto* drop = static_cast<QDropEvent*>(event);
        std::string file = recent_webs_dropped_file(drop->mimeData());
        if (file.empty()) return false;
        drop->acceptProposedAction();
        if (type == QEvent::Drop) recent_webs_open_later(file);
        return true;
    }
};

} // namespace

void recent_webs_add(const std::string& path) {
    if (path.empty()) return;
    QString full = absolute(path);
    QStringList list = stored();
    list.removeAll(full);
    list.prepend(full);
    while (list.size() > RECENT_WEBS_MAX)
        list.removeLast();
    store(list);
    rebuild_menu();
}

void recent_webs_note() { recent_webs_add(web_file_name()); }

std::vector<std::string> recent_webs_list() {
    std::vector<std::string> out;
    for (const QString& path : stored())
        out.push_back(path.toStdString());
    return out;
}

void recent_webs_install(QMainWindow* window, QMenu* file_menu) {
    g_window = window;
    g_menu = file_menu;
    g_separator = file_menu->addSeparator();
    rebuild_menu();
    // Another process may have changed the list since.
    QObject::connect(file_menu, &QMenu::aboutToShow, file_menu, [] { rebuild_menu(); });
    window->setAcceptDrops(true);
    auto* filter = new DropFilter(window);
    QCoreApplication::instance()->installEventFilter(filter);
}

std::string recent_webs_dropped_file(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    QUrl url = data->urls().first();
    if (!url.isLocalFile()) return {};
    QString path = url.toLocalFile();
    QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != "tvx" && suffix != "qlt") return {};
    return path.toStdString();
}

void recent_webs_open_later(const std::string& path) {
    if (!g_window) return;
    // Not from inside the drag: the save question is a modal dialog.
    QTimer::singleShot(0, g_window, [path] {
        if (g_window) g_window->activateWindow();
        dispatch_command(CMD_OPEN, NOTE_NONE, path);
    });
}

} // namespace tarvex
