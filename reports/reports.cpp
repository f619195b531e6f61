// Reports.
#include "reports/reports.h"

#include "core/value.h"
#include "frontend/frontend.h"
#include "io/output_stream.h"
#include "reports/pointers.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "web/links.h"
#include "web/navigation.h"

#include <string>

namespace tarvex {

namespace {

std::vector<CellHandle> g_selection;

bool view_is(int view) {
    return current_view() == view || (current_view() == VIEW_CONS && previous_view() == view);
}

// Which pointer list the pointer reports read, by the pane in view.
bool pointers_from_script() { return view_is(VIEW_SCRIPT); }
PointerSource pointer_source() { return pointers_from_script() ? PS_SCRIPT_TOKENS : PS_TEXT_LINKS; }

int write_formatted(CellHandle c) {
    std::string f = settings_report_format();
    int r = 0;
    for (size_t i = 0; i < f.size() && r == 0; ++i) {
        if (f[i] != '\\') {
            r = output_char(static_cast<uint8_t>(f[i]));
            continue;
        }
        if (++i >= f.size()) break; // a trailing backslash writes nothing
        switch (f[i]) {
        case 'n': r = output_text("\r\n"); break;
        case 'N': r = output_field(cell_name(c)); break;
        case 'V':
            if (cell_value(c) != 0) r = output_text(value_display(cell_value(c)));
            break;
        case 'T': r = output_field(cell_text(c)); break;
        case 'S': r = output_field(cell_script(c)); break;
        default: r = output_char(static_cast<uint8_t>(f[i])); break;
        }
    }
    return r;
}

// The cell's name, then each linked cell's name on its own line behind the
// mark that says which way the link points.
int write_pointers(CellHandle c, std::vector<CellHandle> (*linked)(CellHandle, PointerSource),
                   const char* mark) {
    int r = output_newline();
    if (r == 0) r = output_field(cell_name(c));
    for (CellHandle other : linked(c, pointer_source())) {
        if (r != 0) break;
        r = output_text(mark);
        if (r == 0) r = output_field(cell_name(other));
    }
    return r;
}

int report_one(CellHandle c) {
    switch (settings_report_type()) {
    case RPT_FORMATTED: return write_formatted(c);
    case RPT_IN_POINTERS: return write_pointers(c, in_pointers, "\n    <");
    case RPT_OUT_POINTERS: return write_pointers(c, out_pointers, "\n    >");
    default: return 0;
    }
}

// Reports on cells; pointer reports with the text pane in view first
// rebuild the covered cells' link lists and release them afterwards.
int report_cells(const std::vector<CellHandle>& cells) {
    uint8_t type = settings_report_type();
    bool pointers = type == RPT_IN_POINTERS || type == RPT_OUT_POINTERS;
    bool fresh = pointers && view_is(VIEW_TEXT);
    if (fresh)
        for (CellHandle c : cells)
            text_links_build(c);
    int r = 0;
    for (CellHandle c : cells) {
        if ((r = report_one(c)) != 0) break;
    }
    if (fresh || (pointers && type == RPT_OUT_POINTERS && cells.size() == 1 &&
                  cells[0] == current_cell() && pointers_from_script()))
        for (CellHandle c : cells)
            text_links_discard(c);
    return r;
}

std::vector<CellHandle> all_cells() {
    std::vector<CellHandle> cells;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) cells.push_back(e);
    return cells;
}

} // namespace

void report_selection_clear() { g_selection.clear(); }

void report_selection_add(CellHandle c, int limit) {
    if (c != 0 && static_cast<int>(g_selection.size()) < limit) g_selection.push_back(c);
}

const std::vector<CellHandle>& report_selection() { return g_selection; }

void selection_from_text(std::string_view text) {
    report_selection_clear();
    size_t i = 0;
    while (i < text.size() && g_selection.size() < REPORT_SELECTION_MAX) {
        if (char_class(static_cast<uint8_t>(text[i])) != CC_LETTER) {
            ++i;
            continue;
        }
        std::string word;
        while (i < text.size()) {
            CharClass k = char_class(static_cast<uint8_t>(text[i]));
            if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) break;
            if (word.size() == REPORT_WORD_MAX) {
                ++i; // a word cut at its limit loses its next character
                break;
            }
            word += text[i++];
        }
        report_selection_add(cell_find(word.c_str()));
    }
}

int report_all() { return report_cells(all_cells()); }
int report_selected() { return report_cells(g_selection); }
int report_current() {
    if (current_cell() == 0) return 0;
    return report_cells({current_cell()});
}

int report_trail() {
    int r = output_text("\nTrail:");
    back_iterate_start();
    for (CellHandle c = back_iterate_next(); c != 0 && r == 0; c = back_iterate_next()) {
        r = output_text("\n    ");
        if (r == 0) r = output_field(cell_name(c));
    }
    return r;
}

int report_statement_run(bool list_given) {
    if (settings_report_type() == RPT_TRAIL) return 0;
    if (list_given) return report_selected();
    return settings_report_all() ? report_all() : report_current();
}

} // namespace tarvex
