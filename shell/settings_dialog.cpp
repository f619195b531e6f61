// The settings dialog. Pages are built in code; a page reads the settings
// each time its tab is chosen (so it always shows what is in force) and
// writes them back on OK only if it was shown. Bad input is never refused:
// numbers are clamped and texts cut.
#include "shell/settings_dialog.h"

#include "core/name_tree.h"
#include "plot/plot.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "web/cell.h"
#include "webfile/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

#include <array>
#include <cstdint>
#include <string>

namespace tarvex {

namespace {

// How many characters each edit gives its setting.
constexpr int READ_TEXT_MAX = 256;
constexpr int READ_LIMIT_MAX = 24;
constexpr int PLOT_LIST_NAME_MAX = 48;

enum Page { PAGE_LINKS, PAGE_RPT, PAGE_OUT, PAGE_IN, PAGE_NMBR, PAGE_EXEC, PAGE_PLOT, PAGE_COUNT };

struct Pages {
    QTabWidget* tabs = nullptr;
    std::array<bool, PAGE_COUNT> visited{};
    // Links
    std::array<QRadioButton*, 4> link_colour{};
    QCheckBox* create_on_double_click = nullptr;
    QCheckBox* ask_before_create = nullptr;
    // Rpt
    QComboBox* report_type = nullptr;
    QLineEdit* report_format = nullptr;
    QCheckBox* report_all = nullptr;
    // Out
    QComboBox* output_dest = nullptr;
    QLineEdit* output_name = nullptr;
    // In
    QComboBox* input_source = nullptr;
    QLineEdit* input_name = nullptr;
    QCheckBox* echo = nullptr;
    // Nmbr
    QComboBox* digits = nullptr;
    QRadioButton* fixed = nullptr;
    QRadioButton* exponential = nullptr;
    QRadioButton* general = nullptr;
    QRadioButton* degrees = nullptr;
    QRadioButton* radians = nullptr;
    // Exec
    QRadioButton* generic_list = nullptr;
    QRadioButton* formatted_list = nullptr;
    QRadioButton* no_output = nullptr;
    QLineEdit* iterations = nullptr;
    QLineEdit* list_format = nullptr;
    // Plot
    QLineEdit* xmax = nullptr;
    QLineEdit* xmin = nullptr;
    QLineEdit* ymax = nullptr;
    QLineEdit* ymin = nullptr;
    QLineEdit* x_intervals = nullptr;
    QLineEdit* y_intervals = nullptr;
    QComboBox* x_cell = nullptr;
    QComboBox* y_cell = nullptr;
    int x_cell_filled = -1;
    int y_cell_filled = -1;
    std::array<QRadioButton*, 4> plot_colour{};
};

QString qs(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

std::string cut(const QString& s, int max) {
    qsizetype n = std::min<qsizetype>(s.size(), max);
    if (n > 0 && n < s.size() && s.at(n - 1).isHighSurrogate()) --n;
    return s.left(n).toStdString();
}

// The number typed into a digits-only edit, clamped to lo..hi.
uint32_t clamped_number(const QString& text, uint32_t lo, uint32_t hi) {
    uint64_t n = 0;
    for (QChar c : text) {
        if (c < '0' || c > '9') break;
        n = n * 10 + uint64_t(c.unicode() - '0');
        if (n > hi) break;
    }
    if (n < lo) return lo;
    if (n > hi) return hi;
    return uint32_t(n);
}

template <class T> T* named(T* w, const char* name) {
    w->setObjectName(name);
    return w;
}

QLineEdit* digits_edit(QWidget* parent, const char* name) {
    auto* e = named(new QLineEdit(parent), name);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    return e;
}

QComboBox* list(QWidget* parent, const char* name) {
    auto* c = named(new QComboBox(parent), name);
    c->setMinimumContentsLength(12);
    return c;
}

// A group of radio buttons; the buttons are exclusive within it.
QGroupBox* radio_group(QWidget* parent, const char* title,
                       std::initializer_list<const char*> labels,
                       std::initializer_list<QRadioButton**> out, Qt::Orientation orientation) {
    auto* box = new QGroupBox(title, parent);
    QBoxLayout* layout = orientation == Qt::Horizontal
                             ? static_cast<QBoxLayout*>(new QHBoxLayout(box))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(box));
    auto o = out.begin();
    for (const char* label : labels) {
        auto* b = new QRadioButton(label, box);
        layout->addWidget(b);
        **o++ = b;
    }
    layout->addStretch(1);
    return box;
}

void fill_list(QComboBox* c, std::initializer_list<const char*> entries, int selected) {
    c->clear();
    for (const char* e : entries)
        c->addItem(e);
    c->setCurrentIndex(selected >= 0 && selected < c->count() ? selected : -1);
}

// The setting of a list: position + base, kept when nothing is selected.
template <class Set> void apply_list(QComboBox* c, int base, Set set) {
    if (c->currentIndex() >= 0) set(uint8_t(c->currentIndex() + base));
}

void check_one(std::initializer_list<QRadioButton*> buttons, size_t index) {
    size_t i = 0;
    for (QRadioButton* b : buttons)
        b->setChecked(i++ == index);
}

// The colour of a group of four: the first three checked give 0..2, else 3.
uint8_t colour_of(const std::array<QRadioButton*, 4>& b) {
    for (uint8_t i = 0; i < 3; ++i)
        if (b[i]->isChecked()) return i;
    return 3;
}

// ---- building --------------------------------------------------------------------

QWidget* build_links(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    v->addWidget(
        radio_group(page, "Link Color", {"Red", "Green", "Blue", "Black"},
                    {&p.link_colour[0], &p.link_colour[1], &p.link_colour[2], &p.link_colour[3]},
                    Qt::Vertical));
    p.create_on_double_click =
        named(new QCheckBox("Create Cell on Double Click", page), "create_on_double_click");
    p.ask_before_create =
        named(new QCheckBox("Ask Before Create on Double Click", page), "ask_before_create");
    v->addWidget(p.create_on_double_click);
    v->addWidget(p.ask_before_create);
    v->addStretch(1);
    for (int i = 0; i < 4; ++i)
        p.link_colour[i]->setObjectName(QString("link_colour_%1").arg(i));
    return page;
}

QWidget* build_rpt(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* f = new QFormLayout(page);
    p.report_type = list(page, "report_type");
    p.report_format = named(new QLineEdit(page), "report_format");
    p.report_format->setMaxLength(READ_TEXT_MAX);
    p.report_all = named(new QCheckBox("Report on All Cells", page), "report_all");
    f->addRow("Report Type", p.report_type);
    f->addRow("Report Format", p.report_format);
    f->addRow(p.report_all);
    return page;
}

QWidget* build_out(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* f = new QFormLayout(page);
    p.output_dest = list(page, "output_dest");
    p.output_name = named(new QLineEdit(page), "output_name");
    p.output_name->setMaxLength(READ_TEXT_MAX);
    f->addRow("Output Dest", p.output_dest);
    f->addRow("Output Name", p.output_name);
    return page;
}

QWidget* build_in(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* f = new QFormLayout(page);
    p.input_source = list(page, "input_source");
    p.input_name = named(new QLineEdit(page), "input_name");
    p.input_name->setMaxLength(READ_TEXT_MAX);
    p.echo = named(new QCheckBox("Echo Input", page), "echo_input");
    f->addRow("Input Source", p.input_source);
    f->addRow("Input Name", p.input_name);
    f->addRow(p.echo);
    return page;
}

QWidget* build_nmbr(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    auto* f = new QFormLayout();
    p.digits = list(page, "digits");
    f->addRow("Number of Digits", p.digits);
    v->addLayout(f);
    v->addWidget(radio_group(page, "Format", {"Fixed", "Exponential", "General"},
                             {&p.fixed, &p.exponential, &p.general}, Qt::Horizontal));
    v->addWidget(radio_group(page, "Trigonometry Units", {"degrees", "Radians"},
                             {&p.degrees, &p.radians}, Qt::Horizontal));
    v->addStretch(1);
    p.fixed->setObjectName("fixed");
    p.exponential->setObjectName("exponential");
    p.general->setObjectName("general");
    p.degrees->setObjectName("degrees");
    p.radians->setObjectName("radians");
    return page;
}

QWidget* build_exec(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    v->addWidget(radio_group(page, "Automatic Output", {"Generic List", "Formatted List", "None"},
                             {&p.generic_list, &p.formatted_list, &p.no_output}, Qt::Horizontal));
    auto* f = new QFormLayout();
    p.iterations = digits_edit(page, "iterations");
    p.list_format = named(new QLineEdit(page), "list_format");
    p.list_format->setMaxLength(READ_TEXT_MAX);
    f->addRow("Number of Iterations", p.iterations);
    f->addRow("List Format", p.list_format);
    v->addLayout(f);
    v->addStretch(1);
    p.generic_list->setObjectName("generic_list");
    p.formatted_list->setObjectName("formatted_list");
    p.no_output->setObjectName("no_output");
    return page;
}

QWidget* build_plot(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    auto* top = new QHBoxLayout();
    auto* limits = new QFormLayout();
    auto limit = [&](const char* label, const char* name) {
        auto* e = named(new QLineEdit(page), name);
        e->setMaxLength(READ_LIMIT_MAX);
        limits->addRow(label, e);
        return e;
    };
    p.xmax = limit("X max", "xmax");
    p.xmin = limit("X min", "xmin");
    p.ymax = limit("Y max", "ymax");
    p.ymin = limit("Y min", "ymin");
    top->addLayout(limits, 1);
    auto* intervals = new QGroupBox("# Intervals", page);
    auto* fi = new QFormLayout(intervals);
    p.x_intervals = digits_edit(intervals, "x_intervals");
    p.y_intervals = digits_edit(intervals, "y_intervals");
    fi->addRow("X", p.x_intervals);
    fi->addRow("Y", p.y_intervals);
    top->addWidget(intervals);
    v->addLayout(top);
    auto* cells = new QFormLayout();
    p.x_cell = list(page, "x_cell");
    p.y_cell = list(page, "y_cell");
    cells->addRow("X cell", p.x_cell);
    cells->addRow("Y cell", p.y_cell);
    v->addLayout(cells);
    v->addWidget(
        radio_group(page, "Plot Color", {"Red", "Green", "Blue", "Black"},
                    {&p.plot_colour[0], &p.plot_colour[1], &p.plot_colour[2], &p.plot_colour[3]},
                    Qt::Horizontal));
    v->addStretch(1);
    for (int i = 0; i < 4; ++i)
        p.plot_colour[i]->setObjectName(QString("plot_colour_%1").arg(i));
    return page;
}

// ---- filling ---------------------------------------------------------------------

// The live cells' names in name order, each with the entry of the given
// name selected (else the first); returns the selected position.
int fill_cell_list(QComboBox* c, const char* selected) {
    c->clear();
    int chosen = -1;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        std::string name = cut(QString::fromStdString(cell_name_string(e)), PLOT_LIST_NAME_MAX);
        if (chosen < 0 && name == selected) chosen = c->count();
        c->addItem(QString::fromStdString(name));
    }
    if (chosen < 0 && c->count() > 0) chosen = 0;
    c->setCurrentIndex(chosen);
    return chosen;
}

void fill_page(Pages& p, int page) {
    switch (page) {
    case PAGE_LINKS:
        for (int i = 0; i < 4; ++i)
            p.link_colour[i]->setChecked(std::min<int>(settings_link_colour(), 3) == i);
        p.create_on_double_click->setChecked(settings_create_on_double_click() != 0);
        p.ask_before_create->setChecked(settings_ask_before_create() != 0);
        break;
    case PAGE_RPT:
        fill_list(p.report_type, {"Formatted", "In Pointers", "Out Pointers", "Trail"},
                  settings_report_type() - 1);
        p.report_format->setText(qs(settings_report_format()));
        p.report_all->setChecked(settings_report_all() != 0);
        break;
    case PAGE_OUT:
        // The printer (3) has no entry: nothing is selected.
        fill_list(p.output_dest, {"Console", "File"}, settings_output_dest() - 1);
        p.output_name->setText(qs(settings_output_name()));
        break;
    case PAGE_IN:
        fill_list(p.input_source, {"Console", "Cell", "File"}, settings_input_type() - 1);
        p.input_name->setText(qs(settings_input_name()));
        p.echo->setChecked(settings_echo() != 0);
        break;
    case PAGE_NMBR:
        fill_list(p.digits, {"0", "1", "2", "3", "4", "5", "6", "7", "8"}, settings_decimals());
        check_one({p.fixed, p.exponential, p.general},
                  std::min<size_t>(settings_number_style(), 2));
        check_one({p.degrees, p.radians}, settings_trig_units() == TRIG_DEGREES ? 0 : 1);
        break;
    case PAGE_EXEC: {
        uint8_t a = settings_auto_output();
        check_one({p.generic_list, p.formatted_list, p.no_output}, a == AUTO_GENERIC     ? 0
                                                                   : a == AUTO_FORMATTED ? 1
                                                                                         : 2);
        p.iterations->setText(QString::number(settings_iterations()));
        p.list_format->setText(qs(settings_list_format()));
        break;
    }
    case PAGE_PLOT:
        // The limit getters share one buffer: each text is copied at once.
        p.xmax->setText(qs(settings_xmax_text()));
        p.xmin->setText(qs(settings_xmin_text()));
        p.ymax->setText(qs(settings_ymax_text()));
        p.ymin->setText(qs(settings_ymin_text()));
        p.x_intervals->setText(QString::number(settings_x_intervals()));
        p.y_intervals->setText(QString::number(settings_y_intervals()));
        p.x_cell_filled = fill_cell_list(p.x_cell, settings_plot_x_cell());
        p.y_cell_filled = fill_cell_list(p.y_cell, settings_plot_y_cell());
        for (int i = 0; i < 4; ++i)
            p.plot_colour[i]->setChecked(std::min<int>(settings_plot_colour(), 3) == i);
        break;
    default:
        return;
    }
    p.visited[size_t(page)] = true;
}

// ---- applying --------------------------------------------------------------------

void apply_page(Pages& p, int page) {
    ShellWindows& w = shell_windows();
    switch (page) {
    case PAGE_LINKS:
        settings_set_link_colour(colour_of(p.link_colour));
        for (QsciScintilla* e : {w.text, w.value, w.script})
            if (e) editor_setup(e);
        settings_set_create_on_double_click(p.create_on_double_click->isChecked() ? 1 : 0);
        settings_set_ask_before_create(p.ask_before_create->isChecked() ? 1 : 0);
        break;
    case PAGE_RPT:
        apply_list(p.report_type, 1, settings_set_report_type);
        settings_set_report_format(cut(p.report_format->text(), READ_TEXT_MAX).c_str());
        settings_set_report_all(p.report_all->isChecked() ? 1 : 0);
        break;
    case PAGE_OUT:
        settings_set_output_name(cut(p.output_name->text(), READ_TEXT_MAX).c_str());
        apply_list(p.output_dest, 1, settings_set_output_dest);
        break;
    case PAGE_IN:
        settings_set_input_name(cut(p.input_name->text(), READ_TEXT_MAX).c_str());
        settings_set_echo(p.echo->isChecked() ? 1 : 0);
        apply_list(p.input_source, 1, settings_set_input_type);
        break;
    case PAGE_NMBR:
        apply_list(p.digits, 0, settings_set_decimals);
        settings_set_number_style(p.fixed->isChecked() ? 0 : p.exponential->isChecked() ? 1 : 2);
        settings_set_trig_units(p.degrees->isChecked() ? TRIG_DEGREES : TRIG_RADIANS);
        break;
    case PAGE_EXEC:
        settings_set_iterations(clamped_number(p.iterations->text(), 1, SETTINGS_ITERATIONS_MAX));
        settings_set_auto_output(p.generic_list->isChecked()     ? AUTO_GENERIC
                                 : p.formatted_list->isChecked() ? AUTO_FORMATTED
                                                                 : AUTO_NONE);
        settings_set_list_format(cut(p.list_format->text(), READ_TEXT_MAX).c_str());
        break;
    case PAGE_PLOT:
        settings_set_plot_colour(colour_of(p.plot_colour));
        settings_set_xmax_text(cut(p.xmax->text(), READ_LIMIT_MAX).c_str());
        settings_set_xmin_text(cut(p.xmin->text(), READ_LIMIT_MAX).c_str());
        settings_set_ymax_text(cut(p.ymax->text(), READ_LIMIT_MAX).c_str());
        settings_set_ymin_text(cut(p.ymin->text(), READ_LIMIT_MAX).c_str());
        settings_set_x_intervals(
            uint8_t(clamped_number(p.x_intervals->text(), 1, SETTINGS_INTERVALS_MAX)));
        settings_set_y_intervals(
            uint8_t(clamped_number(p.y_intervals->text(), 1, SETTINGS_INTERVALS_MAX)));
        if (p.x_cell->currentIndex() >= 0 && p.x_cell->currentIndex() != p.x_cell_filled)
            settings_set_plot_x_cell(p.x_cell->currentText().toStdString().c_str());
        if (p.y_cell->currentIndex() >= 0 && p.y_cell->currentIndex() != p.y_cell_filled)
            settings_set_plot_y_cell(p.y_cell->currentText().toStdString().c_str());
        plot_erase();
        break;
    default:
        break;
    }
}

} // namespace

void settings_dialog_run() {
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Settings");
    auto* layout = new QVBoxLayout(&dialog);
    Pages p;
    p.tabs = named(new QTabWidget(&dialog), "settings_tabs");
    p.tabs->addTab(build_links(p, p.tabs), "Links");
    p.tabs->addTab(build_rpt(p, p.tabs), "Rpt");
    p.tabs->addTab(build_out(p, p.tabs), "Out");
    p.tabs->addTab(build_in(p, p.tabs), "In");
    p.tabs->addTab(build_nmbr(p, p.tabs), "Nmbr");
    p.tabs->addTab(build_exec(p, p.tabs), "Exec");
    p.tabs->addTab(build_plot(p, p.tabs), "Plot");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(p.tabs);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(p.tabs, &QTabWidget::currentChanged, &dialog,
                     [&p](int page) { fill_page(p, page); });
    fill_page(p, p.tabs->currentIndex());
    if (!dialog_run(DLG_SETTINGS, dialog)) return;
    for (int page = 0; page < PAGE_COUNT; ++page)
        if (p.visited[size_t(page)]) apply_page(p, page);
}

} // namespace tarvex
