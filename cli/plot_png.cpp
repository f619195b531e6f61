// The PNG writer module. Its references to the engine (the plot surface)
// are resolved against the tarvex-run that loads it.
#include "cli/plot_png.h"

#include "plot/qt/plot_paint.h"
#include "tarvex_version.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>

#include <cstdio>
#include <type_traits>

namespace {

// The image is encoded in memory and written with every write checked: an
// image writer reports neither a full disk nor a failed close.
bool write_png_file(const char* path, const QByteArray& png) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(png.constData(), 1, size_t(png.size()), f) == size_t(png.size());
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const char* tarvex_plot_png_version() {
    return TARVEX_VERSION;
}

// The labels need fonts, and fonts need a GUI application: an offscreen one,
// since the runner has no window.
extern "C" __attribute__((visibility("default"))) bool tarvex_plot_png_write(const char* path) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // stderr carries the engine's messages only, not Qt's start-up chatter.
    QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "tarvex-run: %s\n", msg.toLocal8Bit().constData());
        });
    int argc = 1;
    char name[] = "tarvex-run";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QByteArray png;
    QBuffer buffer(&png);
    bool ok =
        buffer.open(QIODevice::WriteOnly) && tarvex::plot_render_image(1.0).save(&buffer, "PNG");
    qInstallMessageHandler(before);
    return ok && write_png_file(path, png);
}

// The entry points' types are the ones the runner looks them up as.
static_assert(std::is_same_v<decltype(&tarvex_plot_png_version), tarvex::PlotPngVersionFn>);
static_assert(std::is_same_v<decltype(&tarvex_plot_png_write), tarvex::PlotPngWriteFn>);
