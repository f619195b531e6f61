// The plot's Qt painter: the picture at a scale and pixel ratio, taps mapped
// back to surface pixels, and tarvex-run writing the surface as a PNG.
#include "engine/plot_test_support.h"

#include "core/value.h"
#include "plot/qt/plot_paint.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/wait.h>

namespace tarvex::test {
namespace {

constexpr QRgb RED = 0xFFC5121B;

int count_colour(const QImage& image, QRgb colour, QRect* bounds = nullptr) {
    int n = 0;
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour) {
                ++n;
                box |= QRect(x, y, 1, 1);
            }
    if (bounds) *bounds = box;
    return n;
}

int run_to_png(const std::string& args) {
    std::string cmd = std::string(TARVEX_RUN) + " " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str());
}

TEST(PlotPng, RunnerWritesTheCurveInsideTheFrame) {
    QTemporaryDir dir;
    QString png = dir.filePath("curve.png");
    ASSERT_EQ(run_to_png("--plot " + png.toStdString() + " " TARVEX_EXAMPLES "/curve.tvx"), 0);
    QImage image(png);
    ASSERT_EQ(image.size(), QSize(240, 200));
    QRect red;
    EXPECT_GT(count_colour(image, RED, &red), 200);
    // Default limits of +-5 around a curve reaching +-4: inside the frame.
    EXPECT_TRUE(QRect(32, 16, 161, 161).contains(red))
        << red.x() << "," << red.y() << " " << red.width() << "x" << red.height();
    EXPECT_GT(red.width(), 100);
    EXPECT_EQ(image.pixel(64, 20), 0xFF000000u); // a grid line (5 intervals), above the curve
    EXPECT_EQ(image.pixel(20, 100), 0xFFFFFFFFu);
}

TEST(PlotPng, PlottingOffGivesWhite) {
    QTemporaryDir dir;
    QString web = dir.filePath("off.tvx"), png = dir.filePath("off.png");
    std::ofstream(web.toStdString())
        << "<opts><pltng>off</pltng></opts><cell><cname>home</cname></cell>\n</eof>\n";
    ASSERT_EQ(run_to_png("--plot " + png.toStdString() + " " + web.toStdString()), 0);
    QImage image(png);
    ASSERT_EQ(image.size(), QSize(240, 200));
    EXPECT_EQ(count_colour(image, 0xFFFFFFFF), 240 * 200);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A copy of tarvex-run in a folder of its own finds no PNG writer (nor one
// installed relative to it); then a file that is no module takes its place.
// Either way the run and its save go on and only the plot fails, with a
// message and a failure status.
TEST(PlotPng, WithoutItsWriterOnlyThePlotFails) {
    QTemporaryDir dir;
    std::string d = dir.path().toStdString(), run = d + "/tarvex-run";
    ASSERT_TRUE(QFile::copy(TARVEX_RUN, QString::fromStdString(run)));
    auto attempt = [&] {
        std::remove((d + "/saved.tvx").c_str());
        std::string cmd = run + " --plot " + d + "/c.png --save-as " + d + "/saved.tvx " +
                          TARVEX_EXAMPLES "/curve.tvx >" + d + "/out.txt 2>" + d + "/err.txt";
        int status = std::system(cmd.c_str());
        EXPECT_EQ(slurp(d + "/out.txt"), "Lissajous figure drawn with 181 points\n");
        EXPECT_TRUE(QFile::exists(QString::fromStdString(d + "/saved.tvx")));
        EXPECT_FALSE(QFile::exists(QString::fromStdString(d + "/c.png")));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    EXPECT_EQ(attempt(), 1);
    std::string err = slurp(d + "/err.txt");
    EXPECT_NE(err.find("needs the PNG writer tarvex-run-plot.so, which is missing"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("\n  " + d + "/tarvex-run-plot.so\n"), std::string::npos) << err;

    std::ofstream(d + "/tarvex-run-plot.so") << "not a module\n";
    EXPECT_EQ(attempt(), 1);
    err = slurp(d + "/err.txt");
    EXPECT_NE(err.find("the PNG writer cannot be loaded: " + d + "/tarvex-run-plot.so"),
              std::string::npos)
        << err;
}

TEST(PlotPaint, TapsMapBackToSurfacePixelsAtAnySize) {
    // The surface's own size, and twice as wide as the picture needs: the
    // picture is 480 x 400, centred with 50 pixels above and below.
    QRectF small(0, 0, 240, 200), tall(0, 0, 480, 500);
    EXPECT_EQ(map_tap_to_surface(QPointF(32.5, 174.5), small), QPoint(32, 174));
    EXPECT_EQ(plot_fit_rect(tall), QRectF(0, 50, 480, 400));
    EXPECT_EQ(map_tap_to_surface(QPointF(65, 50 + 349), tall), QPoint(32, 174));
    EXPECT_EQ(map_tap_to_surface(QPointF(63.9, 50 + 352), tall), QPoint(31, 176));
    EXPECT_EQ(map_tap_to_surface(QPointF(385.9, 50 + 28), tall), QPoint(192, 14));
    EXPECT_LT(map_tap_to_surface(QPointF(100, 20), tall).y(), 0); // above the picture
    EXPECT_EQ(map_tap_to_surface(QPointF(1, 1), QRectF()), QPoint(-1, -1));
}

class PlotPaintEngine : public PlotCellsTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        cell_create("home");
        plot_cells_start();
    }
    QImage paint(QSize logical, qreal dpr) {
        QImage image(logical * dpr, QImage::Format_RGB32);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::gray);
        QPainter p(&image);
        paint_plot(p, QRectF(QPointF(0, 0), QSizeF(logical)), dpr);
        return image;
    }
};

TEST_F(PlotPaintEngine, PictureIsCrispAtThePixelRatioAndGrowsWithTheSurface) {
    QImage a = paint(QSize(240, 200), 2.0);
    // Grid line x = 64 (5 intervals) covers device columns 128 and 129 only.
    EXPECT_EQ(a.pixel(128, 200), 0xFF000000u);
    EXPECT_EQ(a.pixel(129, 200), 0xFF000000u);
    EXPECT_EQ(a.pixel(127, 200), 0xFFFFFFFFu);
    EXPECT_EQ(a.pixel(130, 200), 0xFFFFFFFFu);
    EXPECT_EQ(count_colour(a, RED), 0);

    plot_begin();
    cell_set_value(x, value_new_number(-4));
    cell_set_value(y, value_new_number(-4));
    cell_set_value(x, value_new_number(4));
    cell_set_value(y, value_new_number(4));
    QImage b = paint(QSize(240, 200), 2.0); // only the new line, (48, 160)-(176, 32), is added
    QRect red;
    EXPECT_GT(count_colour(b, 0xFFC5121B, &red), 100);
    EXPECT_TRUE(QRect(2 * 48 - 4, 2 * 32 - 4, 2 * 128 + 8, 2 * 128 + 8).contains(red));

    plot_erase(); // a new surface: painted from the start again
    EXPECT_EQ(count_colour(paint(QSize(240, 200), 2.0), RED), 0);

    // At scale 1 the plot colour is exact; with plotting off the tab is white.
    cell_set_value(x, value_new_number(0));
    cell_set_value(y, value_new_number(0));
    EXPECT_GT(count_colour(plot_render_image(), RED), 20);
    settings_set_plotting(0);
    plot_reset();
    EXPECT_EQ(count_colour(paint(QSize(300, 200), 1.0), 0xFFFFFFFF), 300 * 200);
}

} // namespace
} // namespace tarvex::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
