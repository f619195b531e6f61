// The plot's Qt painters: the view's picture laid out at any size and pixel
// ratio, taps read back through its mapping, the picture kept up to date
// while the plot grows; and the surface itself written as a PNG (by
// tarvex-run, and scaled).
#include "engine/plot_test_support.h"
#include "engine/temp_files.h"

#include "core/value.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"

#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <cstdlib>
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

// A pixel of the red plot line, or its smoothed edge mostly covered.
bool reddish(QRgb p) {
    return std::abs(qRed(p) - 0xC5) + std::abs(qGreen(p) - 0x12) + std::abs(qBlue(p) - 0x1B) < 100;
}

// The PNG tarvex-run writes of a web: the surface's 240 by 200 pixels.
QImage runner_png(const QTemporaryDir& dir, const std::string& web) {
    QString png = dir.filePath("plot.png");
    std::string cmd = TARVEX_RUN " --plot " + png.toStdString() + " " + web + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    QImage image(png);
    EXPECT_EQ(image.size(), QSize(240, 200));
    return image;
}

TEST(PlotPng, RunnerWritesTheCurveInsideTheFrameOrWhiteWithPlottingOff) {
    QTemporaryDir dir;
    QImage image = runner_png(dir, TARVEX_EXAMPLES "/curve.tvx");
    QRect red;
    EXPECT_GT(count_colour(image, RED, &red), 200);
    // Default limits of +-5 around a curve reaching +-4: inside the frame.
    EXPECT_TRUE(QRect(32, 16, 161, 161).contains(red))
        << red.x() << "," << red.y() << " " << red.width() << "x" << red.height();
    EXPECT_GT(red.width(), 100);
    EXPECT_EQ(image.pixel(64, 20), 0xFF000000u); // a grid line (5 intervals), above the curve
    EXPECT_EQ(image.pixel(20, 100), 0xFFFFFFFFu);

    std::string off = dir.filePath("off.tvx").toStdString();
    put_file(off, "<opts><pltng>off</pltng></opts><cell><cname>home</cname></cell>\n</eof>\n");
    EXPECT_EQ(count_colour(runner_png(dir, off), 0xFFFFFFFF), 240 * 200);
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
        EXPECT_EQ(file_bytes(d + "/out.txt"), "Lissajous figure drawn with 181 points\n");
        EXPECT_TRUE(QFile::exists(QString::fromStdString(d + "/saved.tvx")));
        EXPECT_FALSE(QFile::exists(QString::fromStdString(d + "/c.png")));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    EXPECT_EQ(attempt(), 1);
    std::string err = file_bytes(d + "/err.txt");
    EXPECT_NE(err.find("needs the PNG writer tarvex-run-plot.so, which is missing"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("\n  " + d + "/tarvex-run-plot.so\n"), std::string::npos) << err;

    put_file(d + "/tarvex-run-plot.so", "not a module\n");
    EXPECT_EQ(attempt(), 1);
    err = file_bytes(d + "/err.txt");
    EXPECT_NE(err.find("the PNG writer cannot be loaded: " + d + "/tarvex-run-plot.so"),
              std::string::npos)
        << err;
}

class PlotPaintEngine : public PlotCellsTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        cell_create("home");
        plot_cells_start();
        font_.setPixelSize(13);
    }
    void set(CellHandle c, double d) { cell_set_value(c, value_new_number(d)); }
    void point(double vx, double vy) { set(x, vx), set(y, vy); }
    QImage render(QSize view, qreal dpr = 1) { return plot_picture_render(view, dpr, font_); }
    // The device pixel at a view position.
    static QRgb at(const QImage& image, QPointF p) {
        qreal dpr = image.devicePixelRatio();
        return image.pixel(int(std::floor(p.x() * dpr)), int(std::floor(p.y() * dpr)));
    }
    QFont font_;
};

// Where a plot point lies in a view: with the default limits a value v
// lies at 32 + 16 (v + 5) across and 176 - 16 (v + 5) down on the surface.
QPointF view_point(const PlotLayout& l, double vx, double vy) {
    return plot_layout_point(l, 32 + 16 * (vx + 5), 176 - 16 * (vy + 5));
}

TEST_F(PlotPaintEngine, FrameFillsTheViewWithCrispGridAndLabelsOfOneSize) {
    int label_rows[2] = {0, 0};
    int n = 0;
    for (auto [view, dpr] : {std::pair{QSize(400, 300), 1.0}, std::pair{QSize(900, 560), 1.0},
                             std::pair{QSize(450, 280), 2.0}}) {
        SCOPED_TRACE(view.width());
        PlotLayout l = plot_layout(QSizeF(view), dpr, font_);
        ASSERT_TRUE(l.valid);
        // Room for a row of labels above and below; little at the sides.
        EXPECT_LT(l.frame.left(), 12);
        EXPECT_GT(l.frame.right(), view.width() - 12);
        EXPECT_LT(l.frame.top(), 40);
        EXPECT_GT(l.frame.bottom(), view.height() - 40);
        EXPECT_LE(l.top_row.bottom(), l.frame.top());
        EXPECT_GE(l.bottom_row.top(), l.frame.bottom());
        EXPECT_GE(l.top_row.top(), 0);
        EXPECT_LE(l.bottom_row.bottom(), view.height());

        QImage image = render(view, dpr);
        ASSERT_EQ(image.size(), view * dpr);
        // The six vertical lines of the default five intervals, at -5, -3,
        // .. 5, each exactly one logical pixel of black between white.
        for (int i = 0; i <= 5; ++i) {
            QPointF c = plot_layout_point(l, 32 + 32 * i, 40); // between two horizontal lines
            int col = int(std::floor((c.x() - l.grid_width / 2) * dpr + 0.5));
            int row = int(c.y() * dpr);
            EXPECT_EQ(image.pixel(col, row), 0xFF000000u) << i;
            EXPECT_EQ(image.pixel(col + int(dpr) - 1, row), 0xFF000000u) << i;
            EXPECT_EQ(image.pixel(col - 1, row), 0xFFFFFFFFu) << i;
            EXPECT_EQ(image.pixel(col + int(dpr), row), 0xFFFFFFFFu) << i;
        }
        // Labels drawn in the rows, as tall at any view size.
        QRect ink;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128 &&
                    !l.frame.adjusted(-1, -1, 1, 1).contains(QPointF(x, y) / dpr))
                    ink |= QRect(x, y, 1, 1);
        EXPECT_TRUE(QRectF(QPointF(0, 0), QSizeF(view) * dpr).contains(ink));
        EXPECT_LT(ink.top(), l.frame.top() * dpr);
        EXPECT_GT(ink.bottom(), l.frame.bottom() * dpr);
        if (dpr == 1) label_rows[n++] = int(l.top_row.height());
    }
    EXPECT_EQ(label_rows[0], label_rows[1]);
    EXPECT_GE(label_rows[0], 13);
    // Too small for a frame: white, and no tap lands.
    PlotLayout tiny = plot_layout(QSizeF(30, 30), 1, font_);
    EXPECT_FALSE(tiny.valid);
    EXPECT_EQ(plot_layout_tap(tiny, QPointF(15, 15)), QPoint(-1, -1));
    EXPECT_EQ(count_colour(render(QSize(30, 30)), 0xFFFFFFFF), 900);
}

TEST_F(PlotPaintEngine, SegmentsLieWhereTheMappingPutsThemAtAnySize) {
    plot_begin();
    point(-4, -4);
    point(4, 4);
    point(4, -2.5); // a vertical line down to -2.5
    for (auto [view, dpr] : {std::pair{QSize(400, 300), 1.0}, std::pair{QSize(800, 500), 1.0},
                             std::pair{QSize(500, 350), 2.0}}) {
        SCOPED_TRACE(view.width());
        PlotLayout l = plot_layout(QSizeF(view), dpr, font_);
        QImage image = render(view, dpr);
        for (double f : {0.1, 0.3, 0.5, 0.7, 0.9}) {
            double v = -4 + 8 * f;
            QPointF on = view_point(l, v, v);
            EXPECT_TRUE(reddish(at(image, on))) << f;
            // Lines are two logical pixels wide: four away is clear.
            EXPECT_EQ(at(image, on + QPointF(0, 4)), 0xFFFFFFFFu) << f;
            EXPECT_EQ(at(image, on - QPointF(0, 4)), 0xFFFFFFFFu) << f;
        }
        QPointF top = view_point(l, 4, 4);
        QPointF end = view_point(l, 4, -2.5);
        EXPECT_TRUE(reddish(at(image, (top + end) / 2)));
        EXPECT_EQ(at(image, end + QPointF(0, 4)), 0xFFFFFFFFu);
        QRect red;
        count_colour(image, RED, &red);
        QPointF from = view_point(l, -4, -4);
        QRectF want = QRectF(from * dpr, top * dpr)
                          .normalized()
                          .adjusted(-3 * dpr, -3 * dpr, 3 * dpr, 3 * dpr);
        EXPECT_TRUE(want.contains(QRectF(red))) << red.x() << "," << red.y();
        EXPECT_GT(red.width(), want.width() - 8 * dpr);
    }
}

// A tap reads out what the surface's own tap gives for the plot point under
// it: the surface pixel the point was drawn in.
TEST_F(PlotPaintEngine, TapsFindTheSurfacePixelOfThePlotPointUnderThem) {
    plot_begin();
    point(-4.07, 3.31);
    point(2.19, -1.53);
    point(4.96, -4.97);
    const auto& commands = plot_surface().commands();
    ASSERT_EQ(plot_vectors().segments.size(), 2u);
    for (QSize view : {QSize(400, 300), QSize(1000, 620)}) {
        PlotLayout l = plot_layout(QSizeF(view), 1, font_);
        for (size_t i = 0; i < 2; ++i) {
            const PlotVector& v = plot_vectors().segments[i];
            const PlotCommand& c = commands[commands.size() - 2 + i];
            EXPECT_EQ(plot_layout_tap(l, plot_layout_point(l, v.x0, v.y0)), QPoint(c.x0, c.y0));
            EXPECT_EQ(plot_layout_tap(l, plot_layout_point(l, v.x1, v.y1)), QPoint(c.x1, c.y1));
        }
        // Just off the frame at the left: a pixel off the frame, no read-out.
        EXPECT_LT(plot_layout_tap(l, QPointF(l.frame.left() - 1, l.frame.center().y())).x(), 32);
        EXPECT_GT(plot_layout_tap(l, QPointF(l.frame.center().x(), l.frame.bottom() + 1)).y(), 176);
    }
}

// The frame is an even number of device pixels across, so a pixel's centre
// lies on its middle; with equal axes it is letterboxed to the limits'
// shape. The fractions read back are those of the pixel's centre.
TEST_F(PlotPaintEngine, FrameShapeAndTheFractionsOfAPixel) {
    struct Case {
        QSize view;
        qreal dpr;
        bool equal;
        const char* ymax; // ymin stays -5
    };
    const Case cases[] = {{QSize(401, 301), 1, false, "5"},
                          {QSize(451, 281), 2, false, "5"},
                          {QSize(600, 300), 1, true, "5"},
                          {QSize(400, 500), 1, true, "0"},
                          {QSize(400, 500), 2, true, "15"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.view.width() * 10 + c.equal);
        settings_set_ymax_text(c.ymax);
        plot_picture_set_equal_axes(c.equal);
        PlotLayout l = plot_layout(QSizeF(c.view), c.dpr, font_);
        PlotLayout filled =
            (plot_picture_set_equal_axes(false), plot_layout(QSizeF(c.view), c.dpr, font_));
        ASSERT_TRUE(l.valid);
        EXPECT_EQ(std::fmod(l.frame.width() / l.grid_width, 2), 0);
        EXPECT_EQ(std::fmod(l.frame.height() / l.grid_width, 2), 0);
        double y_range = std::atof(c.ymax) + 5;
        if (c.equal) {
            EXPECT_NEAR(l.frame.width() / 10, l.frame.height() / y_range, 2 / c.dpr);
            EXPECT_TRUE(filled.frame.adjusted(-1, -1, 1, 1).contains(l.frame));
            EXPECT_NEAR(l.frame.center().x(), filled.frame.center().x(), 1);
            EXPECT_NEAR(l.frame.center().y(), filled.frame.center().y(), 1);
            EXPECT_TRUE(std::abs(l.frame.width() - filled.frame.width()) <= 1 ||
                        std::abs(l.frame.height() - filled.frame.height()) <= 1);
            EXPECT_NEAR(l.top_row.bottom(), l.frame.top(), l.top_row.height());
        }
        for (auto [at, want] : {std::pair{l.frame.topLeft(), QPointF(0, 1)},
                                std::pair{l.frame.bottomRight(), QPointF(1, 0)},
                                std::pair{l.frame.center(), QPointF(0.5, 0.5)}})
            EXPECT_EQ(plot_layout_fractions(l, at), want);
        QPointF off = plot_layout_fractions(l, l.frame.topLeft() - QPointF(1, 1));
        EXPECT_LT(off.x(), 0);
        EXPECT_GT(off.y(), 1);
    }
}

// The SVG export: the grid as lines, the segments as one path in the plot
// colour, the labels as text, all well-formed XML.
TEST_F(PlotPaintEngine, SvgHoldsTheGridTheLineAndTheLabels) {
    settings_set_x_intervals(4);
    settings_set_plot_cells("x,y");
    plot_erase();
    plot_begin();
    point(-4, -4);
    point(4, 4);
    point(4, -2.5);
    QXmlStreamReader xml(plot_picture_svg(QSize(500, 400), font_));
    int lines = 0;
    std::vector<std::string> paths, texts;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            if (xml.name() == u"line") ++lines;
            if (xml.name() == u"path")
                paths.push_back(xml.attributes().value("stroke").toString().toStdString() + " " +
                                xml.attributes().value("d").toString().toStdString());
            if (xml.name() == u"text") texts.push_back(xml.readElementText().toStdString());
        }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(lines, 5 + 6);
    PlotLayout l = plot_layout(QSizeF(500, 400), 1, font_);
    auto at = [&](double vx, double vy) {
        QPointF p = view_point(l, vx, vy);
        return QString::asprintf("%.2f %.2f", p.x(), p.y()).toStdString();
    };
    EXPECT_EQ(paths, std::vector<std::string>{"#c5121b M" + at(-4, -4) + "L" + at(4, 4) + "L" +
                                              at(4, -2.5)});
    EXPECT_EQ(texts, (std::vector<std::string>{"y", "( 5 , 5 )", "( -5 , -5 )", "x"}));
}

TEST_F(PlotPaintEngine, PictureGrowsWithThePlotAndStartsAgainOnAFreshSurface) {
    QSize view(400, 300);
    QImage image(view, QImage::Format_RGB32);
    PlotPicture picture;
    auto paint = [&] {
        image.fill(Qt::gray);
        QPainter p(&image);
        plot_picture_paint(picture, p, QSizeF(view), 1, font_);
    };
    paint();
    EXPECT_EQ(count_colour(image, RED), 0);
    plot_begin();
    point(-4, -4);
    point(4, 4);
    paint(); // only the new segment is drawn onto the kept picture
    EXPECT_EQ(picture.done, 1u);
    int one = count_colour(image, RED);
    EXPECT_GT(one, 200);
    point(4, -4);
    paint();
    EXPECT_EQ(picture.done, 2u);
    EXPECT_GT(count_colour(image, RED), one + 100);
    // The same as drawn from scratch, but where the smoothed ends overlap.
    QImage whole = render(view);
    int differ = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            differ += image.pixel(x, y) != whole.pixel(x, y);
    EXPECT_LT(differ, 10);

    // With no time to spend, a paint draws one share and leaves the rest.
    for (int i = 0; i < 600; ++i)
        point(-4.5 + i % 30 * 0.3, -4.5 + i / 30 * 0.45);
    size_t before = picture.done;
    image.fill(Qt::gray);
    QPainter p(&image);
    EXPECT_FALSE(plot_picture_paint(picture, p, QSizeF(view), 1, font_, 0));
    EXPECT_GT(picture.done, before);
    int paints = 1;
    while (!plot_picture_paint(picture, p, QSizeF(view), 1, font_, 0))
        ++paints;
    p.end();
    EXPECT_GT(paints, 1);
    EXPECT_EQ(picture.done, plot_vectors().segments.size());
    EXPECT_GT(count_colour(image, RED), 20 * one);

    plot_erase();
    paint();
    EXPECT_EQ(count_colour(image, RED), 0);
    EXPECT_EQ(picture.done, 0u);
    settings_set_plotting(0);
    plot_reset();
    paint();
    EXPECT_EQ(count_colour(image, 0xFFFFFFFF), 400 * 300);
}

TEST_F(PlotPaintEngine, PastTheRecordLimitTheSurfaceLinesAreDrawnInstead) {
    plot_begin();
    // A random walk in steps of up to ten surface pixels: few segments
    // cover the same pixels twice, and short ones draw quickly.
    uint32_t seed = 12345;
    auto step = [&](double at) {
        seed = seed * 1664525u + 1013904223u;
        double to = at + (int((seed >> 8) % 1251) - 625) / 1000.0;
        return to > 5 ? 10 - to : to < -5 ? -10 - to : to;
    };
    double wx = 0, wy = 0;
    auto walk = [&] {
        wx = step(wx), wy = step(wy);
        point(wx, wy);
    };
    while (plot_vectors().segments.size() < PLOT_VECTORS_MAX)
        walk();
    EXPECT_FALSE(plot_vectors().overflowed);
    size_t lines = plot_surface().commands().size();
    point(-4, -4); // past the limit
    point(4, 4);
    EXPECT_TRUE(plot_vectors().overflowed);
    EXPECT_EQ(plot_vectors().segments.capacity(), 0u); // the memory given back
    EXPECT_EQ(plot_surface().commands().size(), lines + 2);
    QSize view(300, 250);
    PlotLayout l = plot_layout(QSizeF(view), 1, font_);
    QImage image = render(view);
    // The whole frame is covered, and the last line lies where the
    // surface has it.
    EXPECT_GT(count_colour(image, RED), 200 * 150);
    EXPECT_EQ(at(image, plot_layout_point(l, 112, 96)), RED);
    point(4, 4);
    image = render(view);
    EXPECT_GT(count_colour(image, RED), 200 * 150);
    plot_erase(); // a fresh surface keeps a record again
    EXPECT_FALSE(plot_vectors().overflowed);
    point(0, 0);
    point(1, 1);
    EXPECT_EQ(plot_vectors().segments.size(), 2u); // from (4, 4), the last point
}

TEST_F(PlotPaintEngine, ScaledSurfaceKeepsItsGridCrisp) {
    QImage a = plot_render_image(2.0);
    // Grid line x = 64 (5 intervals) covers device columns 128 and 129 only.
    EXPECT_EQ(a.pixel(128, 200), 0xFF000000u);
    EXPECT_EQ(a.pixel(129, 200), 0xFF000000u);
    EXPECT_EQ(a.pixel(127, 200), 0xFFFFFFFFu);
    EXPECT_EQ(a.pixel(130, 200), 0xFFFFFFFFu);
    plot_begin();
    point(0, 0);
    point(1, 1);
    EXPECT_GT(count_colour(plot_render_image(), RED), 20); // exact colour at scale 1
}

} // namespace
} // namespace tarvex::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
