// The web map. The graph is read from the engine on the idle tick and
// compared with the one last laid out, so an unchanged web costs one walk
// and no layout; a changed one is laid out on a worker thread (Graphviz
// needs nothing from the window) and the scene is rebuilt when it is done.
// Moving the highlight only recolours two boxes.
#include "shell/web_map.h"

#include "core/guard.h"
#include "shell/commands.h"
#include "shell/panes.h"
#include "web/navigation.h"
#include "webfile/web_export.h"

#include <QDockWidget>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QMainWindow>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>
#include <graphviz/gvc.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <unordered_map>

namespace tarvex {

namespace {

// dot ranks the cells along the links, the clearest picture of a web, but
// its crossing minimisation grows steeply with the links: 3.7 s for 150
// cells with 200 links on a 2-core machine. sfdp lays out the benchmarks'
// 1,403 cells in well under a second, so larger webs get it.
constexpr size_t MAP_DOT_CELLS_MAX = 100;

constexpr double MAP_POINTS_PER_INCH = 72.0;
constexpr int MAP_FONT_POINTS = 9;
// Room around a name inside its box, in pixels.
constexpr double MAP_BOX_PAD_X = 12, MAP_BOX_PAD_Y = 8;
// A fitted drawing is enlarged at most this much: a web of a few cells in
// a large view would have names larger than the window's text.
constexpr double MAP_FIT_SCALE_MAX = 1.5;
// Below this a drawing is not shrunk further: each box would be a dot.
constexpr double MAP_FIT_SCALE_MIN = 0.02;
// One step of the zoom buttons and of Ctrl+wheel.
constexpr double MAP_ZOOM_STEP = 1.25;
constexpr int MAP_DOCK_WIDTH = 340;
// The map is moved to the plot's place when it would open lower than this:
// a strip shows a row of boxes at most.
constexpr int MAP_HEIGHT_MIN = 250;
constexpr double MAP_ARROW_LENGTH = 8, MAP_ARROW_HALF_WIDTH = 3.5;

const QColor k_box_fill(0xF4, 0xF4, 0xEE);
const QColor k_box_current(0xFF, 0xD8, 0x60);
const QColor k_text_edge(0x40, 0x40, 0x40);
const QColor k_script_edge(0x80, 0x00, 0x80); // as in the exported graph

class MapView : public QGraphicsView {
  public:
    using QGraphicsView::QGraphicsView;
    ~MapView() override;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

struct MapState {
    QDockWidget* dock = nullptr;
    MapView* view = nullptr;
    QGraphicsScene* scene = nullptr;
    WebGraph wanted; // the graph read last: drawn, or being laid out
    bool have_wanted = false;
    bool zoomed = false; // the user chose the scale
    QThread* worker = nullptr;
    std::unordered_map<std::string, QGraphicsPathItem*> boxes;
    std::string highlighted;
    int layouts = 0;
};

MapState g_map;

bool same_graph(const WebGraph& a, const WebGraph& b) {
    return a.names == b.names && a.edges == b.edges;
}

// Graphviz's interface takes writable strings it never writes.
char* gv(const char* s) { return const_cast<char*>(s); }

void set_attr(void* object, const char* name, const std::string& value) {
    agsafeset(object, gv(name), gv(value.c_str()), gv(""));
}

// ---- drawing ----------------------------------------------------------------------

QFont map_font() {
    QFont f;
    f.setPointSize(MAP_FONT_POINTS);
    return f;
}

// The box of a cell's name, in pixels (one pixel per point in the scene).
QSizeF box_size(const QFontMetricsF& metrics, const std::string& name) {
    return {metrics.horizontalAdvance(QString::fromStdString(name)) + MAP_BOX_PAD_X,
            metrics.height() + MAP_BOX_PAD_Y};
}

QPolygonF arrow_head(QPointF from, QPointF tip) {
    QLineF line(tip, from);
    if (line.length() < 1e-6) return {};
    QPointF unit = (from - tip) / line.length();
    QPointF normal(-unit.y(), unit.x());
    QPointF base = tip + unit * MAP_ARROW_LENGTH;
    return QPolygonF(
        {tip, base + normal * MAP_ARROW_HALF_WIDTH, base - normal * MAP_ARROW_HALF_WIDTH});
}

// Where the line from a box's centre towards p leaves the box.
QPointF box_border(QPointF centre, QSizeF size, QPointF p) {
    QPointF d = p - centre;
    double tx = std::abs(d.x()) > 1e-9 ? size.width() / 2 / std::abs(d.x()) : 1e9;
    double ty = std::abs(d.y()) > 1e-9 ? size.height() / 2 / std::abs(d.y()) : 1e9;
    double t = std::min({tx, ty, 1.0});
    return centre + d * t;
}

void add_edge(const MapLayout::Edge& e, const WebGraph::Edge& link, const MapLayout& layout,
              const std::vector<QSizeF>& sizes) {
    QPen pen(link.script ? k_script_edge : k_text_edge, 1.0);
    if (link.script) pen.setStyle(Qt::DashLine);
    QPainterPath path;
    QPointF last, tip;
    bool arrow = false;
    if (e.points.size() >= 2) {
        path.moveTo(e.points[0], e.points[1]);
        for (size_t i = 2; i + 5 < e.points.size(); i += 6)
            path.cubicTo(e.points[i], e.points[i + 1], e.points[i + 2], e.points[i + 3],
                         e.points[i + 4], e.points[i + 5]);
        last = path.currentPosition();
        if (e.arrow) {
            tip = QPointF(e.ax, e.ay);
            arrow = true;
        }
    } else if (link.from != link.to) {
        // No route from the layout: a straight line between the boxes.
        QPointF a(layout.nodes[link.from].x, layout.nodes[link.from].y);
        QPointF b(layout.nodes[link.to].x, layout.nodes[link.to].y);
        QPointF start = box_border(a, sizes[link.from], b);
        tip = box_border(b, sizes[link.to], a);
        last = tip + (start - tip) / std::max(1.0, QLineF(start, tip).length()) * MAP_ARROW_LENGTH;
        path.moveTo(start);
        path.lineTo(last);
        arrow = true;
    } else {
        return;
    }
    g_map.scene->addPath(path, pen)->setZValue(0);
    if (arrow) {
        QPolygonF head = arrow_head(last, tip);
        if (!head.isEmpty()) {
            pen.setStyle(Qt::SolidLine);
            g_map.scene->addPolygon(head, pen, pen.color())->setZValue(0);
        }
    }
}

// Until the user zooms, the whole drawing fits the view.
void fit() {
    if (!g_map.scene || g_map.zoomed || g_map.scene->items().isEmpty()) return;
    QRectF r = g_map.scene->sceneRect();
    QSize v = g_map.view->viewport()->size();
    if (v.isEmpty() || r.isEmpty()) return;
    double s = std::min({MAP_FIT_SCALE_MAX, v.width() / r.width(), v.height() / r.height()});
    s = std::max(s, MAP_FIT_SCALE_MIN);
    g_map.view->setTransform(QTransform::fromScale(s, s));
    g_map.view->centerOn(r.center());
}

void fit_again() {
    g_map.zoomed = false;
    fit();
}

// A zoom step about anchor (a viewport position), in (factor > 1) or out.
void zoom_by(double factor, QGraphicsView::ViewportAnchor anchor) {
    g_map.zoomed = true;
    g_map.view->setTransformationAnchor(anchor);
    g_map.view->scale(factor, factor);
}

void highlight(const std::string& name, bool scroll) {
    if (name != g_map.highlighted) {
        if (auto old = g_map.boxes.find(g_map.highlighted); old != g_map.boxes.end())
            old->second->setBrush(k_box_fill);
        g_map.highlighted = name;
    }
    auto now = g_map.boxes.find(name);
    if (now == g_map.boxes.end()) return;
    now->second->setBrush(k_box_current);
    if (scroll) g_map.view->ensureVisible(now->second);
}

void highlight_current() {
    std::string name = current_cell() ? cell_name_string(current_cell()) : std::string();
    if (name != g_map.highlighted) highlight(name, true);
}

void draw(const WebGraph& graph, const MapLayout& layout) {
    g_map.scene->clear();
    g_map.boxes.clear();
    g_map.highlighted.clear();
    QFont font = map_font();
    QFontMetricsF metrics(font);
    std::vector<QSizeF> sizes;
    for (const std::string& name : graph.names)
        sizes.push_back(box_size(metrics, name));
    for (size_t i = 0; i < graph.edges.size() && i < layout.edges.size(); ++i)
        add_edge(layout.edges[i], graph.edges[i], layout, sizes);
    for (size_t i = 0; i < graph.names.size() && i < layout.nodes.size(); ++i) {
        QString name = QString::fromStdString(graph.names[i]);
        QRectF r(QPointF(layout.nodes[i].x, layout.nodes[i].y) -
                     QPointF(sizes[i].width() / 2, sizes[i].height() / 2),
                 sizes[i]);
        QPainterPath outline;
        outline.addRoundedRect(r, 4, 4);
        auto* box = g_map.scene->addPath(outline, QPen(Qt::black, 1.0), k_box_fill);
        box->setZValue(1);
        box->setData(0, name);
        box->setToolTip(name);
        auto* label = new QGraphicsSimpleTextItem(name, box);
        label->setFont(font);
        label->setPos(r.center() -
                      QPointF(metrics.horizontalAdvance(name) / 2, metrics.height() / 2));
        g_map.boxes[graph.names[i]] = box;
    }
    g_map.scene->setSceneRect(QRectF(0, 0, layout.width, layout.height).adjusted(-10, -10, 10, 10));
    fit();
    highlight_current();
}

// ---- layout runs ------------------------------------------------------------------

void layout_start() {
    if (g_map.worker) return; // the finished one starts the next
    WebGraph graph = g_map.wanted;
    MapLayoutInput in = web_map_input(graph);
    auto result = std::make_shared<MapLayout>();
    ++g_map.layouts;
    g_map.worker = QThread::create([in = std::move(in), result] { *result = web_map_layout(in); });
    g_map.worker->setParent(g_map.view);
    QObject::connect(g_map.worker, &QThread::finished, g_map.view, [graph, result] {
        g_map.worker->deleteLater();
        g_map.worker = nullptr;
        if (same_graph(graph, g_map.wanted))
            draw(graph, *result);
        else
            layout_start();
    });
    g_map.worker->start();
}

// The current cell's text and script as its panes hold them, when they were
// edited and not yet copied back.
void read_graph(WebGraph* graph) {
    ShellWindows& w = shell_windows();
    CellHandle c = current_cell();
    std::string text, script;
    WebGraphEdit edit;
    if (c && w.text && w.script && (w.text->isModified() || w.script->isModified())) {
        text = w.text->isModified() ? editor_bytes(w.text) : text_to_string(cell_text(c));
        script = w.script->isModified() ? editor_bytes(w.script) : text_to_string(cell_script(c));
        edit = {c, text, script};
    }
    *graph = web_graph(edit);
}

MapView::~MapView() {
    // A layout still running finishes first: its thread may not outlive it.
    if (g_map.worker) g_map.worker->wait();
    g_map = MapState{};
}

void MapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        for (QGraphicsItem* item : items(event->position().toPoint())) {
            QGraphicsItem* box = item->data(0).isValid() ? item : item->parentItem();
            if (!box || !box->data(0).isValid()) continue;
            link_followed(box->data(0).toString().toStdString());
            engine_guard([] { highlight_current(); });
            event->accept();
            return;
        }
    QGraphicsView::mousePressEvent(event);
}

void MapView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    if (event->angleDelta().y() != 0)
        zoom_by(event->angleDelta().y() > 0 ? MAP_ZOOM_STEP : 1 / MAP_ZOOM_STEP,
                QGraphicsView::AnchorUnderMouse);
    event->accept();
}

void MapView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    fit();
    if (auto box = g_map.boxes.find(g_map.highlighted); box != g_map.boxes.end())
        ensureVisible(box->second);
}

} // namespace

MapLayoutInput web_map_input(const WebGraph& graph) {
    QFontMetricsF metrics(map_font());
    MapLayoutInput in;
    for (const std::string& name : graph.names) {
        QSizeF s = box_size(metrics, name);
        in.boxes.push_back({s.width(), s.height()});
    }
    for (const WebGraph::Edge& e : graph.edges)
        in.edges.push_back({e.from, e.to, e.script});
    return in;
}

MapLayout web_map_layout(const MapLayoutInput& in) {
    auto started = std::chrono::steady_clock::now();
    MapLayout out;
    bool dot = in.boxes.size() <= MAP_DOT_CELLS_MAX;
    out.engine = dot ? "dot" : "sfdp";
    agseterr(AGERR); // no warnings on the terminal
    GVC_t* gvc = gvContext();
    Agraph_t* g = agopen(gv("map"), Agdirected, nullptr);
    // Ranks run left to right: a dock is taller than it is wide.
    if (dot) set_attr(g, "rankdir", "LR");
    set_attr(g, "nodesep", "0.2");
    set_attr(g, "ranksep", "0.35");
    if (!dot) {
        set_attr(g, "overlap", "prism");
        set_attr(g, "splines", "false");
        // Cells without links are packed in rows instead of pushed apart.
        set_attr(g, "pack", "true");
        set_attr(g, "packmode", "array");
    }
    std::vector<Agnode_t*> nodes;
    for (size_t i = 0; i < in.boxes.size(); ++i) {
        Agnode_t* n = agnode(g, gv(("n" + std::to_string(i)).c_str()), 1);
        set_attr(n, "shape", "box");
        set_attr(n, "fixedsize", "true");
        set_attr(n, "label", "");
        set_attr(n, "width", std::to_string(in.boxes[i].width / MAP_POINTS_PER_INCH));
        set_attr(n, "height", std::to_string(in.boxes[i].height / MAP_POINTS_PER_INCH));
        nodes.push_back(n);
    }
    std::vector<Agedge_t*> edges;
    for (size_t i = 0; i < in.edges.size(); ++i)
        edges.push_back(agedge(g, nodes[in.edges[i].from], nodes[in.edges[i].to],
                               gv(("e" + std::to_string(i)).c_str()), 1));
    if (gvLayout(gvc, g, dot ? "dot" : "sfdp") == 0) {
        boxf bb = GD_bb(g);
        out.width = bb.UR.x - bb.LL.x;
        out.height = bb.UR.y - bb.LL.y;
        auto x = [&](double v) { return v - bb.LL.x; };
        auto y = [&](double v) { return bb.UR.y - v; }; // Graphviz's y grows upwards
        for (Agnode_t* n : nodes)
            out.nodes.push_back({x(ND_coord(n).x), y(ND_coord(n).y)});
        for (Agedge_t* e : edges) {
            MapLayout::Edge drawn;
            splines* spl = ED_spl(e);
            if (spl && spl->size > 0) {
                const bezier& bz = spl->list[0];
                for (int k = 0; k < bz.size; ++k) {
                    drawn.points.push_back(x(bz.list[k].x));
                    drawn.points.push_back(y(bz.list[k].y));
                }
                if (bz.eflag) {
                    drawn.arrow = true;
                    drawn.ax = x(bz.ep.x);
                    drawn.ay = y(bz.ep.y);
                }
            }
            out.edges.push_back(std::move(drawn));
        }
        gvFreeLayout(gvc, g);
    }
    agclose(g);
    gvFreeContext(gvc);
    out.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    return out;
}

// A map opened as a strip (beside the plot and the values, in the first
// layout) goes where the plot is, as a tab beside it, with the plot's height.
void place(QMainWindow* window) {
    QDockWidget* dock = g_map.dock;
    if (!dock->isVisible() || dock->isFloating() || dock->height() >= MAP_HEIGHT_MIN) return;
    auto* plot = window->findChild<QDockWidget*>("plot_dock");
    if (plot && plot->isVisible() && !plot->isFloating() &&
        window->dockWidgetArea(plot) == window->dockWidgetArea(dock)) {
        window->tabifyDockWidget(plot, dock);
        dock->raise();
    }
    if (dock->height() < MAP_HEIGHT_MIN)
        window->resizeDocks({dock}, {MAP_HEIGHT_MIN}, Qt::Vertical);
}

QToolBar* tool_bar(QWidget* parent) {
    auto* bar = new QToolBar(parent);
    bar->setObjectName("web_map_tools");
    bar->setIconSize(QSize(16, 16));
    bar->setFocusPolicy(Qt::NoFocus);
    QAction* fit_action = bar->addAction("Fit", [] { fit_again(); });
    fit_action->setObjectName("web_map_fit");
    fit_action->setToolTip("Fit the whole web in the map");
    QAction* in =
        bar->addAction("+", [] { zoom_by(MAP_ZOOM_STEP, QGraphicsView::AnchorViewCenter); });
    in->setObjectName("web_map_zoom_in");
    in->setToolTip("Zoom in (Ctrl+wheel)");
    QAction* out =
        bar->addAction("-", [] { zoom_by(1 / MAP_ZOOM_STEP, QGraphicsView::AnchorViewCenter); });
    out->setObjectName("web_map_zoom_out");
    out->setToolTip("Zoom out (Ctrl+wheel)");
    return bar;
}

QDockWidget* web_map_create(QMainWindow* window) {
    auto* dock = new QDockWidget("Web Map", window);
    dock->setObjectName("web_map");
    auto* page = new QWidget(dock);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* view = new MapView(page);
    view->setObjectName("web_map_view");
    view->setRenderHint(QPainter::Antialiasing);
    view->setDragMode(QGraphicsView::ScrollHandDrag);
    view->setFocusPolicy(Qt::NoFocus);
    auto* scene = new QGraphicsScene(view);
    view->setScene(scene);
    column->addWidget(tool_bar(page));
    column->addWidget(view);
    dock->setWidget(page);
    window->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();
    g_map = MapState{};
    g_map.dock = dock;
    g_map.view = view;
    g_map.scene = scene;
    // Opened (not a tab brought to the front): the whole web in view.
    QObject::connect(dock->toggleViewAction(), &QAction::toggled, view, [](bool on) {
        if (!on) return;
        g_map.dock->raise(); // the front tab, when it shares the plot's place
        fit_again();
    });
    // Shown: drawn at once rather than on the next tick.
    QObject::connect(dock, &QDockWidget::visibilityChanged, view, [window](bool visible) {
        if (!visible) return;
        if (g_map.view->width() < MAP_DOCK_WIDTH)
            window->resizeDocks({g_map.dock}, {MAP_DOCK_WIDTH}, Qt::Horizontal);
        // Once the window has laid the dock out.
        QTimer::singleShot(0, g_map.view, [window] { place(window); });
        web_map_idle();
    });
    return dock;
}

void web_map_idle() {
    if (!g_map.view || !g_map.dock->isVisible()) return;
    engine_guard([] {
        WebGraph graph;
        read_graph(&graph);
        if (!g_map.have_wanted || !same_graph(graph, g_map.wanted)) {
            g_map.wanted = std::move(graph);
            g_map.have_wanted = true;
            layout_start();
        }
        highlight_current();
    });
}

int web_map_layout_count() { return g_map.layouts; }
bool web_map_layout_running() { return g_map.worker != nullptr; }
QGraphicsView* web_map_view() { return g_map.view; }

} // namespace tarvex
