// The plot's drawing surface: a small canvas interface (fill, line, text),
// and the display list that records what was drawn so that any painter can
// replay it at any scale. Coordinates are surface pixels, y growing
// downwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

struct PlotRgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const PlotRgb&) const = default;
};

constexpr PlotRgb PLOT_WHITE{0xFF, 0xFF, 0xFF};
constexpr PlotRgb PLOT_BLACK{0, 0, 0};

enum PlotAlign : uint8_t { PLOT_ALIGN_LEFT = 0, PLOT_ALIGN_RIGHT = 1 };

class PlotCanvas {
  public:
    virtual ~PlotCanvas() = default;
    // Fills the pixels left..right-1, top..bottom-1.
    virtual void fill(int left, int top, int right, int bottom, PlotRgb colour) = 0;
    // A solid line from (x0, y0) to (x1, y1), width pixels wide.
    virtual void line(int x0, int y0, int x1, int y1, int width, PlotRgb colour) = 0;
    // One line of black text in the rectangle, at its top, left- or
    // right-aligned, in the surface's default font.
    virtual void text(int left, int top, int right, int bottom, PlotAlign align,
                      std::string_view s) = 0;
};

enum PlotCommandKind : uint8_t { PLOT_FILL = 0, PLOT_LINE = 1, PLOT_TEXT = 2 };

// One recorded drawing command, kept small: a long run records one line per
// plotted segment.
struct PlotCommand {
    PlotCommandKind kind = PLOT_FILL;
    PlotAlign align = PLOT_ALIGN_LEFT;      // text
    uint8_t width = 1;                      // line
    PlotRgb colour;                         // fill and line
    int16_t x0 = 0, y0 = 0, x1 = 0, y1 = 0; // line ends, or left, top, right, bottom
    uint32_t text = 0;                      // text: index into the list's texts
};

class PlotDisplayList : public PlotCanvas {
  public:
    void fill(int left, int top, int right, int bottom, PlotRgb colour) override;
    void line(int x0, int y0, int x1, int y1, int width, PlotRgb colour) override;
    void text(int left, int top, int right, int bottom, PlotAlign align,
              std::string_view s) override;

    void clear();
    const std::vector<PlotCommand>& commands() const { return commands_; }
    const std::string& text_of(const PlotCommand& c) const { return texts_[c.text]; }
    // Plays the commands from index `from` on onto canvas.
    void replay(PlotCanvas& canvas, size_t from = 0) const;

  private:
    std::vector<PlotCommand> commands_;
    std::vector<std::string> texts_;
};

} // namespace tarvex
