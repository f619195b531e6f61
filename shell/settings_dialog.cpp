// The settings dialog. Pages are built in code; a page reads the settings
// each time its tab is chosen (so it always shows what is in force) and
// writes them back on OK only if it was shown. Bad input is never refused:
// numbers are clamped and texts cut.
#include "shell/settings_dialog.h"

#include "core/name_tree.h"
#include "plot/plot.h"
#include "settings/setting_table.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "web/cell.h"

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
#include <vector>

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
    // The radio buttons of each setting shown as a group, in word order.
    struct Choice {
        QRadioButton* button;
        uint8_t value;
    };
    std::array<std::vector<Choice>, S_COUNT> radios{};
    // Links
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
    // Exec
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
};

QString qs(const char* s) { return QString::fromUtf8(s ? s : ""); }

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

// A group of radio buttons, one for each word of the setting that the
// dialog offers. Each is named prefix + its value, or without a prefix
// after its label ("Generic List" gives "generic_list").
QGroupBox* word_group(Pages& p, QWidget* parent, const char* title, SettingId id,
                      Qt::Orientation orientation, const char* prefix = nullptr) {
    auto* box = new QGroupBox(title, parent);
    QBoxLayout* layout = orientation == Qt::Horizontal
                             ? static_cast<QBoxLayout*>(new QHBoxLayout(box))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(box));
    for (const SettingWord& w : setting_row(id).words) {
        if (!w.label) continue;
        auto* b = new QRadioButton(w.label, box);
        b->setObjectName(prefix ? QString(prefix) + QString::number(w.value)
                                : QString(w.label).toLower().replace(' ', '_'));
        layout->addWidget(b);
        p.radios[id].push_back({b, w.value});
    }
    layout->addStretch(1);
    return box;
}

// The button of the setting's value is checked, else the last one.
void fill_group(Pages& p, SettingId id) {
    const std::vector<Pages::Choice>& choices = p.radios[id];
    size_t chosen = choices.size() - 1;
    for (size_t i = 0; i < choices.size(); ++i)
        if (choices[i].value == setting_number(id)) chosen = i;
    for (size_t i = 0; i < choices.size(); ++i)
        choices[i].button->setChecked(i == chosen);
}

// The value of the checked button, else of the last one.
void apply_group(Pages& p, SettingId id) {
    const std::vector<Pages::Choice>& choices = p.radios[id];
    size_t chosen = choices.size() - 1;
    for (size_t i = choices.size(); i-- > 0;)
        if (choices[i].button->isChecked()) chosen = i;
    setting_set_number(id, choices[chosen].value);
}

// A list of the words of a setting that the dialog offers, with the
// setting's word selected (nothing when its value has no entry).
void fill_words(QComboBox* c, SettingId id) {
    c->clear();
    for (const SettingWord& w : setting_row(id).words)
        if (w.label) c->addItem(w.label, int(w.value));
    c->setCurrentIndex(c->findData(int(setting_number(id))));
}

// The setting of a list, kept when nothing is selected.
void apply_words(QComboBox* c, SettingId id) {
    if (c->currentIndex() >= 0) setting_set_number(id, c->currentData().toInt());
}

// The number typed into a digits-only edit, within the setting's range for
// the dialog.
void apply_number(QLineEdit* e, SettingId id) {
    const SettingRow& row = setting_row(id);
    setting_set_number(id, clamped_number(e->text(), uint32_t(row.lo), uint32_t(row.dialog_hi)));
}

// ---- building --------------------------------------------------------------------

QWidget* build_links(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    v->addWidget(word_group(p, page, "Link Color", S_LINK_COLOUR, Qt::Vertical, "link_colour_"));
    p.create_on_double_click =
        named(new QCheckBox("Create Cell on Double Click", page), "create_on_double_click");
    p.ask_before_create =
        named(new QCheckBox("Ask Before Create on Double Click", page), "ask_before_create");
    v->addWidget(p.create_on_double_click);
    v->addWidget(p.ask_before_create);
    v->addStretch(1);
    return page;
}

// A page of a list, a text and, where there is one, a check box; each
// control is created with its label and object name.
struct ListTextPage {
    QComboBox** list;
    const char* list_label;
    const char* list_name;
    QLineEdit** text;
    const char* text_label;
    const char* text_name;
    QCheckBox** check = nullptr;
    const char* check_label = nullptr;
    const char* check_name = nullptr;
};

QWidget* build_list_text(const ListTextPage& d, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* f = new QFormLayout(page);
    *d.list = list(page, d.list_name);
    *d.text = named(new QLineEdit(page), d.text_name);
    (*d.text)->setMaxLength(READ_TEXT_MAX);
    f->addRow(d.list_label, *d.list);
    f->addRow(d.text_label, *d.text);
    if (d.check) {
        *d.check = named(new QCheckBox(d.check_label, page), d.check_name);
        f->addRow(*d.check);
    }
    return page;
}

QWidget* build_nmbr(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    auto* f = new QFormLayout();
    p.digits = list(page, "digits");
    f->addRow("Number of Digits", p.digits);
    v->addLayout(f);
    v->addWidget(word_group(p, page, "Format", S_NUMBER_STYLE, Qt::Horizontal));
    v->addWidget(word_group(p, page, "Trigonometry Units", S_TRIG_UNITS, Qt::Horizontal));
    v->addStretch(1);
    return page;
}

QWidget* build_exec(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    v->addWidget(word_group(p, page, "Automatic Output", S_AUTO_OUTPUT, Qt::Horizontal));
    auto* f = new QFormLayout();
    p.iterations = digits_edit(page, "iterations");
    p.list_format = named(new QLineEdit(page), "list_format");
    p.list_format->setMaxLength(READ_TEXT_MAX);
    f->addRow("Number of Iterations", p.iterations);
    f->addRow("List Format", p.list_format);
    v->addLayout(f);
    v->addStretch(1);
    return page;
}

QWidget* build_plot(Pages& p, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* v = new QVBoxLayout(page);
    auto* top = new QHBoxLayout();
    auto* limits = new QFormLayout();
    // Each limit's edit is named after its web file tag.
    auto limit = [&](const char* label, SettingId id) {
        auto* e = named(new QLineEdit(page), setting_row(id).tag);
        e->setMaxLength(READ_LIMIT_MAX);
        limits->addRow(label, e);
        return e;
    };
    p.xmax = limit("X max", S_XMAX);
    p.xmin = limit("X min", S_XMIN);
    p.ymax = limit("Y max", S_YMAX);
    p.ymin = limit("Y min", S_YMIN);
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
    v->addWidget(word_group(p, page, "Plot Color", S_PLOT_COLOUR, Qt::Horizontal, "plot_colour_"));
    v->addStretch(1);
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
        fill_group(p, S_LINK_COLOUR);
        p.create_on_double_click->setChecked(settings_create_on_double_click() != 0);
        p.ask_before_create->setChecked(settings_ask_before_create() != 0);
        break;
    case PAGE_RPT:
        fill_words(p.report_type, S_REPORT_TYPE);
        p.report_format->setText(qs(settings_report_format()));
        p.report_all->setChecked(settings_report_all() != 0);
        break;
    case PAGE_OUT:
        fill_words(p.output_dest, S_OUTPUT_DEST);
        p.output_name->setText(qs(settings_output_name()));
        break;
    case PAGE_IN:
        fill_words(p.input_source, S_INPUT_TYPE);
        p.input_name->setText(qs(settings_input_name()));
        p.echo->setChecked(settings_echo() != 0);
        break;
    case PAGE_NMBR: {
        const SettingRow& digits = setting_row(S_DECIMALS);
        p.digits->clear();
        for (int64_t n = digits.lo; n <= digits.dialog_hi; ++n)
            p.digits->addItem(QString::number(n), int(n));
        p.digits->setCurrentIndex(p.digits->findData(int(settings_decimals())));
        fill_group(p, S_NUMBER_STYLE);
        fill_group(p, S_TRIG_UNITS);
        break;
    }
    case PAGE_EXEC:
        fill_group(p, S_AUTO_OUTPUT);
        p.iterations->setText(QString::number(settings_iterations()));
        p.list_format->setText(qs(settings_list_format()));
        break;
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
        fill_group(p, S_PLOT_COLOUR);
        break;
    default: return;
    }
    p.visited[size_t(page)] = true;
}

// ---- applying --------------------------------------------------------------------

void apply_page(Pages& p, int page) {
    ShellWindows& w = shell_windows();
    switch (page) {
    case PAGE_LINKS:
        apply_group(p, S_LINK_COLOUR);
        for (QsciScintilla* e : {w.text, w.value, w.script})
            if (e) editor_setup(e);
        settings_set_create_on_double_click(p.create_on_double_click->isChecked() ? 1 : 0);
        settings_set_ask_before_create(p.ask_before_create->isChecked() ? 1 : 0);
        break;
    case PAGE_RPT:
        apply_words(p.report_type, S_REPORT_TYPE);
        settings_set_report_format(cut(p.report_format->text(), READ_TEXT_MAX).c_str());
        settings_set_report_all(p.report_all->isChecked() ? 1 : 0);
        break;
    case PAGE_OUT:
        settings_set_output_name(cut(p.output_name->text(), READ_TEXT_MAX).c_str());
        apply_words(p.output_dest, S_OUTPUT_DEST);
        break;
    case PAGE_IN:
        settings_set_input_name(cut(p.input_name->text(), READ_TEXT_MAX).c_str());
        settings_set_echo(p.echo->isChecked() ? 1 : 0);
        apply_words(p.input_source, S_INPUT_TYPE);
        break;
    case PAGE_NMBR:
        apply_words(p.digits, S_DECIMALS);
        apply_group(p, S_NUMBER_STYLE);
        apply_group(p, S_TRIG_UNITS);
        break;
    case PAGE_EXEC:
        apply_number(p.iterations, S_ITERATIONS);
        apply_group(p, S_AUTO_OUTPUT);
        settings_set_list_format(cut(p.list_format->text(), READ_TEXT_MAX).c_str());
        break;
    case PAGE_PLOT:
        apply_group(p, S_PLOT_COLOUR);
        settings_set_xmax_text(cut(p.xmax->text(), READ_LIMIT_MAX).c_str());
        settings_set_xmin_text(cut(p.xmin->text(), READ_LIMIT_MAX).c_str());
        settings_set_ymax_text(cut(p.ymax->text(), READ_LIMIT_MAX).c_str());
        settings_set_ymin_text(cut(p.ymin->text(), READ_LIMIT_MAX).c_str());
        apply_number(p.x_intervals, S_X_INTERVALS);
        apply_number(p.y_intervals, S_Y_INTERVALS);
        if (p.x_cell->currentIndex() >= 0 && p.x_cell->currentIndex() != p.x_cell_filled)
            settings_set_plot_x_cell(p.x_cell->currentText().toStdString().c_str());
        if (p.y_cell->currentIndex() >= 0 && p.y_cell->currentIndex() != p.y_cell_filled)
            settings_set_plot_y_cell(p.y_cell->currentText().toStdString().c_str());
        plot_erase();
        break;
    default: break;
    }
}

} // namespace

void settings_dialog_run() {
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Settings");
    auto* layout = new QVBoxLayout(&dialog);
    Pages p;
    p.tabs = named(new QTabWidget(&dialog), "settings_tabs");
    // The spelled-out page titles all in view: the dialog widens to them.
    p.tabs->setUsesScrollButtons(false);
    p.tabs->addTab(build_links(p, p.tabs), "Links");
    p.tabs->addTab(build_list_text({&p.report_type, "Report Type", "report_type", &p.report_format,
                                    "Report Format", "report_format", &p.report_all,
                                    "Report on All Cells", "report_all"},
                                   p.tabs),
                   "Report");
    p.tabs->addTab(build_list_text({&p.output_dest, "Output Dest", "output_dest", &p.output_name,
                                    "Output Name", "output_name"},
                                   p.tabs),
                   "Output");
    p.tabs->addTab(
        build_list_text({&p.input_source, "Input Source", "input_source", &p.input_name,
                         "Input Name", "input_name", &p.echo, "Echo Input", "echo_input"},
                        p.tabs),
        "Input");
    p.tabs->addTab(build_nmbr(p, p.tabs), "Number");
    p.tabs->addTab(build_exec(p, p.tabs), "Execution");
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
