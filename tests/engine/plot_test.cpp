// The plot: point state machine, mapping and clipping, frame, errors,
// repaints, erasing and the tap read-out, read back from the display list;
// and the full-precision record kept beside it for views of other sizes.
#include "plot_test_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/value.h"
#include "script/compiled_expr.h"
#include "web/navigation.h"

#include <cmath>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

struct Line {
    int x0, y0, x1, y1;
    bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << "(" << l.x0 << "," << l.y0 << ")-(" << l.x1 << "," << l.y1 << ")";
}

class PlotFrontend : public HeadlessFrontend {
  public:
    void plot_changed() override { ++repaints; }
    int repaints = 0;
};

class PlotTest : public PlotCellsTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        frontend_install(&pui);
        builtins_init();
        cell_create("home");
        navigation_reset();
        plot_cells_start();
        z = cell_create("z");
    }
    void set(CellHandle c, double d) { cell_set_value(c, value_new_number(d)); }
    // The plot lines (2 pixels wide) drawn so far.
    std::vector<Line> lines(int width = 2) {
        std::vector<Line> out;
        for (const PlotCommand& c : plot_surface().commands())
            if (c.kind == PLOT_LINE && c.width == width) out.push_back({c.x0, c.y0, c.x1, c.y1});
        return out;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const PlotCommand& c : plot_surface().commands())
            if (c.kind == PLOT_TEXT) out.push_back(plot_surface().text_of(c));
        return out;
    }
    std::string run_home(const char* script) {
        run_in_home(script);
        return pui.console;
    }
    PlotFrontend pui;
    CellHandle z = 0;
};

// With the default limits (-5..5) a value v maps to 32 + 16 (v + 5) across
// and 176 - 16 (v + 5) down.
TEST_F(PlotTest, PointsNeedBothCoordinatesChangedInEitherOrder) {
    plot_begin();
    ASSERT_TRUE(plot_active());
    set(x, 0);
    set(z, 3); // other cells place nothing
    EXPECT_TRUE(lines().empty());
    set(y, 0); // first point (112, 96), nothing drawn
    EXPECT_TRUE(lines().empty());
    set(x, 1);
    set(y, 1); // x then y
    set(x, 2);
    set(x, 3); // only the pending x moves
    set(y, 2);
    set(y, -1);
    set(y, -2); // y then x, y replaced
    set(x, -1);
    EXPECT_EQ(lines(),
              (std::vector<Line>{{112, 96, 128, 80}, {128, 80, 160, 64}, {160, 64, 96, 128}}));
    plot_end();
    EXPECT_FALSE(plot_active());
    set(x, 5);
    set(y, 5);
    EXPECT_EQ(lines().size(), 3u); // inactive after the run

    // Before the first point a repeated y replaces the last.
    plot_erase();
    plot_begin();
    set(y, 1);
    set(y, 2);
    set(x, 0); // first point (112, 64)
    set(x, 1);
    set(y, 2);
    EXPECT_EQ(lines(), (std::vector<Line>{{112, 64, 128, 64}}));
    plot_end();

    // One cell for both never places a point.
    settings_set_plot_cells("x,x");
    plot_erase();
    plot_begin();
    ASSERT_TRUE(plot_active());
    for (int i = 0; i < 6; ++i)
        set(x, i);
    EXPECT_TRUE(lines().empty());

    // A for's cell is placed at each value it steps to.
    plot_end();
    settings_set_plot_cells("x,y");
    plot_erase();
    run_home("for (x = 0 to 2) {set y to x}");
    EXPECT_EQ(lines(), (std::vector<Line>{{112, 96, 128, 80}, {128, 80, 144, 64}}));
    // So is a string joined in place (as 0).
    plot_erase();
    run_home("set x to 'a' set y to 1 set x to x cat 'b' set y to 2");
    EXPECT_EQ(lines(), (std::vector<Line>{{112, 80, 112, 64}}));
}

TEST_F(PlotTest, ClippingAgainstEdgesAndCorners) {
    PlotSegment s;
    auto clip = [&](int x0, int y0, int x1, int y1) -> std::vector<int> {
        if (!plot_clip_segment(x0, y0, x1, y1, &s)) return {};
        return {s.x0, s.y0, s.x1, s.y1};
    };
    using V = std::vector<int>;
    EXPECT_EQ(clip(40, 20, 190, 170), (V{40, 20, 190, 170}));     // inside
    EXPECT_EQ(clip(0, 96, 112, 128), (V{32, 105, 112, 128}));     // left edge, y truncated
    EXPECT_EQ(clip(112, 128, 300, 20), (V{112, 128, 192, 83}));   // right edge
    EXPECT_EQ(clip(100, 100, 300, -100), (V{100, 100, 184, 16})); // out through the top
    EXPECT_EQ(clip(0, 0, 240, 200), (V{32, 26, 192, 160}));       // two edges
    EXPECT_EQ(clip(240, 200, 0, 0), (V{192, 160, 32, 27}));       // truncated toward the start
    EXPECT_EQ(clip(0, 208, 64, 144), (V{32, 176, 64, 144}));      // in through a corner
    EXPECT_EQ(clip(0, 208, 32, 176), V{});                        // ends on the corner
    EXPECT_EQ(clip(0, 40, 40, 0), V{});                           // passes the corner outside
    EXPECT_EQ(clip(0, 0, 20, 300), V{});                          // both left
    EXPECT_EQ(clip(100, 0, 100, 300), (V{100, 16, 100, 176}));    // vertical
    EXPECT_EQ(clip(200, 0, 200, 100), V{});
    EXPECT_EQ(clip(100, 180, 100, 300), V{});
    EXPECT_EQ(clip(-50, 50, 300, 50), (V{32, 50, 192, 50})); // horizontal
    // Far-off ends: the products need more than 32 bits of care.
    EXPECT_EQ(clip(32 + 32500, 176 - 32500, 32 - 32500, 176 + 32500), (V{192, 16, 32, 176}));
}

TEST_F(PlotTest, FrameGridAndLabels) {
    settings_set_x_intervals(4);
    settings_set_y_intervals(0); // no division by zero: the edges only
    settings_set_xmin_text("0.123456789");
    settings_set_plot_cells("speed,height");
    plot_erase();
    std::vector<int> xs, ys;
    for (const Line& l : lines(1))
        (l.x0 == l.x1 ? xs : ys).push_back(l.x0 == l.x1 ? l.x0 : l.y0);
    EXPECT_EQ(xs, (std::vector<int>{32, 72, 112, 152, 192}));
    EXPECT_EQ(ys, (std::vector<int>{176, 16}));
    EXPECT_EQ(texts(),
              (std::vector<std::string>{"( 0.12346 , -5 )", "( 5 , 5 )", "height", "speed"}));
    EXPECT_EQ(plot_surface().commands().front().kind, PLOT_FILL);
}

// Settings that cannot be plotted are reported as the run starts, before
// anything the script writes; the run goes on unplotted.
TEST_F(PlotTest, BadSettingsAreReportedFirstAndTheRunGoesOn) {
    struct Case {
        const char* cells;
        const char* xmax;
        const char* line;
    };
    const Case cases[] = {{"nope,y", "5", "BAD XCELL SPEC IN PLOT DIALOG"},
                          {"x,nope", "5", "BAD YCELL SPEC IN PLOT DIALOG"},
                          {"x,y", "-5", "INVALID PLOT LIMITS"}}; // xmax equal to xmin
    for (const Case& c : cases) {
        settings_set_plot_cells(c.cells);
        settings_set_xmax_text(c.xmax);
        std::string out =
            run_home("out('a') set home 1 out('b') set x to 1 set y to 1 set x to 2 set y to 2");
        EXPECT_EQ(out, std::string("\n") + c.line + "\nab");
        EXPECT_FALSE(plot_active());
        EXPECT_TRUE(lines().empty());
    }

    // A mapping that overflows stops the plot for the rest of the run.
    settings_set_xmax_text("5");
    std::string out =
        run_home("set x to 1 set y to 1 set x to 1e308 set y to 2 set x to 0 set y to 0");
    EXPECT_NE(out.find("\nINVALID PLOT LIMITS\n"), std::string::npos) << out;
    EXPECT_TRUE(lines().empty());

    out = run_home("set x to 1 set y to 1 set x to 2 set y to 2");
    EXPECT_EQ(out.find("PLOT"), std::string::npos) << out;
    EXPECT_EQ(lines().size(), 1u);
}

// A plotted cell called as a function is plotted at each of its values,
// as the calls made step by step write them, never left to calls on numbers.
TEST_F(PlotTest, APlottedCellCalledIsPlottedAtEveryValue) {
    cell_set_script(y, "if (%1 > 0) {y(%1 - 1) + 1} else {0}");
    std::vector<std::vector<Line>> drawn;
    for (bool on_numbers : {false, true}) {
        interp_set_number_calls(on_numbers);
        plot_erase();
        run_home("set x to 1 y(2) set x to 2 y(3) set x to 3 y(1)");
        drawn.push_back(lines());
    }
    interp_set_number_calls(true);
    EXPECT_EQ(drawn[0].size(), 2u);
    EXPECT_EQ(drawn[1], drawn[0]);

    // A cell the plot does not draw, called on numbers, is written once:
    // 22 changes step by step repaint twice more than the one at the end.
    cell_set_script(z, "if (%1 > 0) {z(%1 - 1) + 1} else {0}");
    int repaints[2];
    for (bool on_numbers : {false, true}) {
        interp_set_number_calls(on_numbers);
        const int before = pui.repaints;
        EXPECT_EQ(run_home("out(z(21))"), "21");
        repaints[on_numbers] = pui.repaints - before;
    }
    interp_set_number_calls(true);
    EXPECT_EQ(repaints[0] - repaints[1], 2);
}

TEST_F(PlotTest, RepaintEveryEleventhChangeAndAtTheEnd) {
    plot_begin();
    int before = pui.repaints;
    for (int i = 0; i < 10; ++i)
        set(z, i); // any cell counts
    EXPECT_EQ(pui.repaints, before);
    set(z, 10);
    EXPECT_EQ(pui.repaints, before + 1);
    for (int i = 0; i < 11; ++i)
        set(i % 2 ? x : y, i);
    EXPECT_EQ(pui.repaints, before + 2);
    plot_end();
    EXPECT_EQ(pui.repaints, before + 3);
    for (int i = 0; i < 30; ++i)
        set(z, i); // inactive: nothing counted
    EXPECT_EQ(pui.repaints, before + 3);
}

TEST_F(PlotTest, EraseResetAndColour) {
    plot_begin();
    set(x, 0), set(y, 0), set(x, 1), set(y, 1);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(plot_surface().commands().back().colour, (PlotRgb{0xC5, 0x12, 0x1B}));
    settings_set_plot_colour(2);
    set(x, 2), set(y, 2);
    EXPECT_EQ(plot_surface().commands().back().colour, (PlotRgb{0x18, 0x23, 0x69}));
    EXPECT_EQ(plot_surface().commands()[plot_surface().commands().size() - 2].colour,
              (PlotRgb{0xC5, 0x12, 0x1B})); // drawn lines keep theirs
    uint32_t generation = plot_surface_generation();
    plot_erase(); // a fresh frame; the run goes on from its last point
    EXPECT_NE(plot_surface_generation(), generation);
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(lines(1).empty());
    set(x, 3), set(y, 3);
    EXPECT_EQ(lines(), (std::vector<Line>{{144, 64, 160, 48}}));
    plot_end();

    settings_set_plotting(0);
    plot_reset();
    EXPECT_FALSE(plot_surface_present());
    EXPECT_TRUE(plot_surface().commands().empty()); // shows white
    plot_erase();
    EXPECT_FALSE(plot_surface_present());
    EXPECT_FALSE(plot_tap(32, 174)); // taps do nothing
    settings_set_plotting(1);
    plot_reset();
    EXPECT_TRUE(plot_surface_present());
}

// A tap reads out the surface pixel under it, inside the frame only (its
// bottom row, 176, is outside); a view's read-out is exact over the whole
// frame, edges included.
TEST_F(PlotTest, TapReadOut) {
    struct Case {
        bool view; // a view's fractions, else a surface pixel
        double x, y;
        const char* text; // nullptr: none
    };
    const Case cases[] = {{false, 32, 174, "( -5 , -5 )"}, {false, 192, 14, "( 5 , 5 )"},
                          {false, 112, 94, "( 0 , 0 )"},   {false, 32, 176, nullptr},
                          {false, 31, 100, nullptr},       {false, 193, 100, nullptr},
                          {false, 100, 13, nullptr},       {true, 0, 0, "( -5 , -5 )"},
                          {true, 1, 1, "( 5 , 5 )"},       {true, 0.5, 0.5, "( 0 , 0 )"},
                          {true, 0.4, 0.6, "( -1 , 1 )"},  {true, 0.123, 0.99, "( -3.77 , 4.9 )"},
                          {true, -0.001, 0.5, nullptr},    {true, 0.5, 1.001, nullptr}};
    for (const Case& c : cases) {
        pui.flashes.clear();
        bool shown = c.view ? plot_read_out(c.x, c.y) : plot_tap(int(c.x), int(c.y));
        EXPECT_EQ(shown, c.text != nullptr) << c.x << "," << c.y;
        EXPECT_EQ(pui.flashes,
                  c.text ? std::vector<std::string>{c.text} : std::vector<std::string>{})
            << c.x << "," << c.y;
    }
    settings_set_ymin_text("7");
    EXPECT_TRUE(plot_tap(100, 100));
    EXPECT_EQ(pui.flashes.back(), "Bad Plot Limits");
    EXPECT_TRUE(plot_read_out(0.5, 0.5));
    EXPECT_EQ(pui.flashes.back(), "Bad Plot Limits");
}

// With the default limits a value v lies at 32 + 16 (v + 5) across and
// 176 - 16 (v + 5) down, fractions included.
double sx(double v) { return 32 + 16 * (v + 5); }
double sy(double v) { return 176 - 16 * (v + 5); }

TEST_F(PlotTest, RecordKeepsEachSurfaceLineWithItsFractions) {
    plot_begin();
    auto point = [&](double vx, double vy) { set(x, vx), set(y, vy); };
    point(0.03, 0.03);
    point(1.23, 2.47);
    point(-9, 1.1); // cut at the left edge
    point(2.2, 6);  // cut at the top edge
    point(0.03, 0.03);
    point(1.23, 2.47); // the surface has this line already; the record again
    point(0.04, 0.03);
    point(1.23, 2.47); // a fraction off it: the same pixels, another line
    settings_set_plot_colour(1);
    point(0.03, 0.03); // the same pixels as the one before last, in a new colour
    std::vector<Line> surface = lines();
    const std::vector<PlotVector>& rec = plot_vectors().segments;
    ASSERT_EQ(surface.size(), 6u);
    ASSERT_EQ(rec.size(), 8u); // with the two the surface had in its pixels
    const size_t drawn[] = {0, 1, 2, 3, 5, 7};
    const auto& commands = plot_surface().commands();
    for (size_t i = 0; i < surface.size(); ++i) {
        const PlotVector& v = rec[drawn[i]];
        EXPECT_EQ(v.colour, commands[commands.size() - surface.size() + i].colour) << i;
        // Inside the frame the surface truncates toward its left and bottom
        // edges; cut ends are computed apart and only agree roughly.
        for (auto [ex, ey, wx, wy] : {std::tuple{v.x0, v.y0, surface[i].x0, surface[i].y0},
                                      std::tuple{v.x1, v.y1, surface[i].x1, surface[i].y1}}) {
            bool inside = ex > 32 && ex < 192 && ey > 16 && ey < 176;
            double dx = ex - wx, dy = wy - ey;
            if (inside)
                EXPECT_TRUE(dx >= -1e-4 && dx < 1 && dy >= -1e-4 && dy < 1)
                    << i << ": " << ex << "," << ey << " vs " << wx << "," << wy;
            else
                EXPECT_TRUE(std::abs(dx) < 2 && std::abs(dy) < 2) << i;
        }
    }
    auto near = [](float a, double b) { return std::abs(a - b) < 1e-4; };
    EXPECT_TRUE(near(rec[0].x0, sx(0.03)) && near(rec[0].y0, sy(0.03)));
    EXPECT_TRUE(near(rec[0].x1, sx(1.23)) && near(rec[0].y1, sy(2.47)));
    // (1.23, 2.47) to (-9, 1.1) meets x = -5 at y = 2.47 - 6.23 * 1.37 / 10.23.
    EXPECT_TRUE(near(rec[1].x1, 32) && near(rec[1].y1, sy(2.47 - 6.23 * 1.37 / 10.23)))
        << rec[1].x1 << "," << rec[1].y1;
    // (-9, 1.1) to (2.2, 6): in at the left edge, out at the top (y = 5).
    EXPECT_TRUE(near(rec[2].x0, 32) && near(rec[2].y0, sy(1.1 + 4 * 4.9 / 11.2)));
    EXPECT_TRUE(near(rec[2].x1, sx(-9 + 3.9 * 11.2 / 4.9)) && near(rec[2].y1, 16));
    EXPECT_TRUE(near(rec[4].x0, rec[0].x0) && near(rec[4].y1, rec[0].y1)); // drawn again
    EXPECT_TRUE(near(rec[6].x0, sx(0.04)) && !near(rec[6].x0, rec[0].x0));
    EXPECT_EQ(rec[6].colour, plot_colour_rgb(0));
    EXPECT_EQ(rec[7].colour, plot_colour_rgb(1));
}

// The surface clamps far-off values and cuts the line at the frame; the
// record follows the true line.
TEST_F(PlotTest, FarOffValuesAreClampedAndCutAtTheFrame) {
    settings_set_xmin_text("0");
    settings_set_xmax_text("10");
    plot_begin();
    set(x, 5), set(y, 0);    // (112, 96): 5 maps to px 80
    set(x, 1e9), set(y, 1);  // (32 + 32500, 80): cut at the right edge
    set(x, -1e9), set(y, 0); // from the far right to the far left: crosses near y 88
    ASSERT_EQ(lines(), (std::vector<Line>{{112, 96, 192, 96}, {192, 87, 32, 88}}));
    EXPECT_TRUE(plot_active());
    const std::vector<PlotVector>& rec = plot_vectors().segments;
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_FLOAT_EQ(rec[0].x1, 192);
    EXPECT_NEAR(rec[0].y1, 96, 0.01);
    // Nearly level from far right to far left: about 88 at both edges,
    // where the surface's whole pixels say 87 and 88.
    EXPECT_NEAR(rec[1].x0, 192, 1e-4);
    EXPECT_NEAR(rec[1].y0, 88, 0.01);
    EXPECT_NEAR(rec[1].x1, 32, 1e-4);
    EXPECT_NEAR(rec[1].y1, 88, 0.01);
}

TEST_F(PlotTest, ExactClippingKeepsFractionsAndDirection) {
    PlotSegmentF s;
    auto clip = [&](double x0, double y0, double x1, double y1) -> std::vector<double> {
        if (!plot_clip_segment_exact(x0, y0, x1, y1, &s)) return {};
        return {s.x0, s.y0, s.x1, s.y1};
    };
    auto expect = [&](std::vector<double> got, std::vector<double> want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 1e-9) << i;
    };
    using V = std::vector<double>;
    expect(clip(40.25, 20.5, 190.75, 170.125), V{40.25, 20.5, 190.75, 170.125});
    expect(clip(0, 0, 240, 200), V{32, 80.0 / 3, 192, 160}); // in left, out right
    expect(clip(240, 200, 0, 0), V{192, 160, 32, 80.0 / 3}); // the other way
    expect(clip(0, 208, 64, 144), V{32, 176, 64, 144});      // in through a corner
    expect(clip(100.5, -50, 100.5, 300), V{100.5, 16, 100.5, 176});
    expect(clip(32, 0, 32, 300), V{32, 16, 32, 176}); // along an edge: inside
    expect(clip(-1e6, 96.5, 1e6, 95.5),
           V{32, 96.5 - (1e6 + 32) / 2e6, 192, 96.5 - (1e6 + 192) / 2e6});
    EXPECT_EQ(clip(0, 208, 32, 176), V{});      // touches the corner only
    EXPECT_EQ(clip(0, 40, 40, 0), V{});         // passes the corner outside
    EXPECT_EQ(clip(192.5, 0, 192.5, 300), V{}); // beside the right edge
    EXPECT_EQ(clip(100, 100, 100, 100), V{});   // a point
    EXPECT_EQ(clip(-10, 10, 300, 15.99), V{});  // just above the top
}

TEST_F(PlotTest, RecordKeepsTheFrameAndStartsAgainWithTheSurface) {
    settings_set_x_intervals(0);
    settings_set_y_intervals(7);
    settings_set_plot_cells("speed,height");
    settings_set_ymax_text("12.5");
    plot_erase();
    const PlotVectors& v = plot_vectors();
    EXPECT_EQ(v.x_intervals, 1);
    EXPECT_EQ(v.y_intervals, 7);
    EXPECT_EQ(texts(), (std::vector<std::string>{v.min_label, v.max_label, v.y_name, v.x_name}));
    EXPECT_EQ(v.max_label, "( 5 , 12.5 )");
    EXPECT_EQ(v.x_name, "speed");

    settings_set_plot_cells("x,y");
    plot_begin();
    set(x, 0), set(y, 0), set(x, 1), set(y, 1);
    set(x, 1.01), set(y, 1.01); // within one surface pixel: a line only here
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_EQ(v.segments.size(), 2u);
    plot_erase(); // the run goes on from its last point onto a fresh frame
    EXPECT_TRUE(v.segments.empty());
    EXPECT_EQ(v.y_name, "y");
    set(x, 2), set(y, 2);
    ASSERT_EQ(v.segments.size(), 1u);
    EXPECT_FLOAT_EQ(v.segments[0].x0, sx(1.01));
    plot_end();

    settings_set_plotting(0);
    plot_reset(); // white: nothing to draw, not even the frame
    EXPECT_TRUE(v.segments.empty());
    EXPECT_TRUE(v.y_name.empty() && v.min_label.empty());
    EXPECT_FALSE(v.overflowed);
}

} // namespace
} // namespace tarvex::test
