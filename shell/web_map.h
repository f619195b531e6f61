// The web map: a dock that draws the link graph of the web (cells as boxes,
// text links as solid and script links as dashed arrows) laid out by
// Graphviz, keeps the current cell highlighted and in view, and visits a
// cell when its box is clicked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QDockWidget;
class QGraphicsView;
class QMainWindow;

namespace tarvex {

struct WebGraph;

// What the layout needs, as plain data so that it can run away from the
// window thread: box sizes in points and the edges.
struct MapLayoutInput {
    struct Box {
        double width, height;
    };
    std::vector<Box> boxes;
    struct Edge {
        uint32_t from, to;
        bool script;
    };
    std::vector<Edge> edges;
};

// Where the layout put everything, in points with y growing downwards.
struct MapLayout {
    struct Node {
        double x, y; // centre
    };
    std::vector<Node> nodes;
    struct Edge {
        std::vector<double> points; // x, y pairs: a start and Bezier triples
        bool arrow = false;         // an arrowhead from the last point to (ax, ay)
        double ax = 0, ay = 0;
    };
    std::vector<Edge> edges; // in the input's order
    double width = 0, height = 0;
    double milliseconds = 0;
    const char* engine = "";
};

// The layout's input for a graph: each box sized to its name in the map's
// font (needs the application's fonts, so the window thread only).
MapLayoutInput web_map_input(const WebGraph& graph);

// Lays the graph out with Graphviz. Uses no window object, so any one
// thread at a time may call it.
MapLayout web_map_layout(const MapLayoutInput& in);

// The dock, hidden, in window's right dock area; its toggle action is the
// dock's own.
QDockWidget* web_map_create(QMainWindow* window);

// The idle tick's part: lays the graph out again when its cells or links
// changed, and moves the highlight to the current cell.
void web_map_idle();

// How many layouts the map has started, and whether one is running.
int web_map_layout_count();
bool web_map_layout_running();
QGraphicsView* web_map_view();

} // namespace tarvex
