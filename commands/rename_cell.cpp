// Renaming a cell with its links. Names in texts are found by the link
// rule and names in scripts by the lexer's own scan, so a word inside a
// longer one, a quoted string or a comment is never taken for the cell.
#include "commands/rename_cell.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "lexer/lexer.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "web/links.h"
#include "webfile/web_file.h"

#include <functional>
#include <optional>

namespace tarvex {

namespace {

struct FieldChange {
    CellHandle cell;
    CellField field;
    std::string before, after;
    // Being written when the store ran out: a field is emptied before its
    // new text is made, so it may be left empty.
    bool cut = false;
};

struct UndoRecord {
    bool held = false;
    CellHandle cell = 0;
    std::string old_name, new_name;
    std::vector<FieldChange> fields;
    bool plot = false, input = false;
    std::string plot_before, plot_after, input_before, input_after;
    // The modified mark before the rename, and its count of changes once
    // the rename was done (none when the store cut it short).
    bool was_modified = true;
    std::optional<unsigned> mark_changes;
};

UndoRecord g_undo;

bool is_name_char(char ch) {
    CharClass k = char_class(static_cast<uint8_t>(ch));
    return k == CC_LETTER || k == CC_DIGIT || k == CC_UNDERSCORE;
}

// Byte ranges of the names of target in a field's bytes.
using Ranges = std::vector<std::pair<size_t, size_t>>;

Ranges text_names(const std::string& text, CellHandle target) {
    Ranges found;
    std::string_view seen(text);
    if (seen.size() > LINK_TEXT_MAX) seen = seen.substr(0, LINK_TEXT_MAX);
    text_link_scan(seen, [&](size_t start, size_t end, CellHandle named) {
        if (named == target) found.emplace_back(start, end);
    });
    return found;
}

Ranges script_names(const std::string& script, CellHandle target, int* strings) {
    Ranges found;
    lex_scan(script, [&](const LexSpan& s) {
        bool name = s.kind == CELLNAME ||
                    (s.kind == ERROR && static_cast<int8_t>(s.aux) == SE_BAD_IDENTIFIER);
        if (name) {
            // The span may run on over a comment; the name is its word.
            size_t end = s.start;
            while (end < script.size() && is_name_char(script[end]))
                ++end;
            std::string word = script.substr(s.start, end - s.start);
            if (cell_find(word.c_str()) == target) found.emplace_back(s.start, end);
        } else if (s.kind == STRING && strings && s.end > s.start &&
                   char_class(static_cast<uint8_t>(script[s.start])) == CC_QUOTE) {
            size_t close = script.find(script[s.start], s.start + 1);
            if (close == std::string::npos || close > s.end) close = s.end;
            std::string inside = script.substr(s.start + 1, close - s.start - 1);
            if (name_compare(cell_name(target), inside.c_str()) == 0) ++*strings;
        }
    });
    return found;
}

std::string replaced(const std::string& bytes, const Ranges& ranges, const std::string& name) {
    std::string out;
    size_t at = 0;
    for (auto [start, end] : ranges) {
        out.append(bytes, at, start - at);
        out += name;
        at = end;
    }
    out.append(bytes, at, std::string::npos);
    return out;
}

// Every field of the web that names target, with its bytes before and
// after; strings counts the quoted strings holding the name.
std::vector<FieldChange> field_changes(CellHandle target, const std::string& name,
                                       std::vector<int>* counts, int* strings) {
    std::vector<FieldChange> changes;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        for (CellField f : {CF_TEXT, CF_SCRIPT}) {
            std::string bytes = text_to_string(cell_get(e, f));
            if (bytes.empty()) continue;
            Ranges r =
                f == CF_TEXT ? text_names(bytes, target) : script_names(bytes, target, strings);
            if (r.empty()) continue;
            if (counts) counts->push_back(static_cast<int>(r.size()));
            changes.push_back({e, f, bytes, replaced(bytes, r, name)});
        }
    }
    return changes;
}

bool names_cell(const char* setting, CellHandle c) {
    return setting[0] != 0 && name_compare(cell_name(c), setting) == 0;
}

void put_field(CellHandle c, CellField f, const std::string& bytes) {
    if (f == CF_TEXT)
        cell_set_text(c, bytes);
    else
        cell_set_script(c, bytes);
}

// Scripts lexed before hold table indices the new order has moved.
void relex_lexed() {
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL && cell_get(e, CF_SCRIPT_TOKENS) != 0) relex_cell(e);
}

void forget_on_reset() { rename_forget(); }

} // namespace

RenamePlan rename_plan(CellHandle c, const std::string& typed) {
    RenamePlan plan;
    plan.cell = c;
    if (c == 0 || entry_kind(c) != NK_CELL) {
        plan.refusal = BAD_CELL_NAME_TEXT;
        return plan;
    }
    plan.old_name = cell_name_string(c);
    plan.new_name = typed;
    name_normalize(plan.new_name);
    CellHandle other = cell_find(plan.new_name.c_str());
    if (cell_is_home(c))
        plan.refusal = RENAME_HOME_TEXT;
    else if (!name_is_valid(plan.new_name.c_str()))
        plan.refusal = BAD_CELL_NAME_TEXT;
    else if (lex_reserved_id(plan.new_name.c_str()) ||
             tree_find(plan.new_name.c_str(), builtin_root()) != 0)
        plan.refusal = RENAME_SCRIPT_WORD_TEXT;
    else if (other != 0 && other != c)
        plan.refusal = DUPLICATE_CELL_NAME_TEXT;
    if (plan.refusal || plan.new_name == plan.old_name) return plan;
    std::vector<int> counts;
    std::vector<FieldChange> changes = field_changes(c, plan.new_name, &counts, &plan.strings);
    for (size_t i = 0; i < changes.size(); ++i)
        plan.fields.push_back({changes[i].cell, changes[i].field, counts[i]});
    plan.plot_x = names_cell(settings_plot_x_cell(), c);
    plan.plot_y = names_cell(settings_plot_y_cell(), c);
    plan.input_name = settings_input_type() == IN_CELL && names_cell(settings_input_name(), c);
    return plan;
}

std::vector<std::string> rename_preview(const RenamePlan& plan) {
    std::vector<std::string> lines;
    for (const RenameField& f : plan.fields) {
        bool text = f.field == CF_TEXT;
        std::string what =
            text ? (f.names == 1 ? " link" : " links") : (f.names == 1 ? " name" : " names");
        lines.push_back(cell_name_string(f.cell) + (text ? " text: " : " script: ") +
                        std::to_string(f.names) + what);
    }
    if (plan.plot_x) lines.push_back("Plot x cell");
    if (plan.plot_y) lines.push_back("Plot y cell");
    if (plan.input_name) lines.push_back("Cell input name");
    if (plan.strings > 0)
        lines.push_back("also named in " + std::to_string(plan.strings) +
                        (plan.strings == 1 ? " string" : " strings"));
    return lines;
}

bool rename_apply(const RenamePlan& plan) {
    if (plan.refusal || plan.cell == 0 || plan.new_name == plan.old_name) return false;
    CellHandle c = plan.cell;
    UndoRecord undo;
    undo.cell = c;
    undo.old_name = cell_name_string(c);
    undo.new_name = plan.new_name;
    // Found under the old name, written once the cell has the new one.
    undo.fields = field_changes(c, plan.new_name, nullptr, nullptr);
    bool plot_x = names_cell(settings_plot_x_cell(), c);
    bool plot_y = names_cell(settings_plot_y_cell(), c);
    undo.input = settings_input_type() == IN_CELL && names_cell(settings_input_name(), c);
    static bool hooked = false;
    if (!hooked) {
        web_add_reset_hook(forget_on_reset);
        hooked = true;
    }
    undo.was_modified = web_modified();
    if (!cell_rename(c, plan.new_name.c_str())) return false;
    web_set_modified(true);
    undo.held = true;
    // A store that runs out part way leaves the record of what was done:
    // Undo Rename takes back the fields written (it restores only a field
    // that holds what the rename wrote) and the name.
    struct Keep {
        UndoRecord& undo;
        ~Keep() { g_undo = std::move(undo); }
    } keep{undo};
    for (FieldChange& f : undo.fields) {
        f.cut = true;
        put_field(f.cell, f.field, f.after);
        f.cut = false;
    }
    undo.plot_before = settings_plot_cells();
    if (plot_x) settings_set_plot_x_cell(plan.new_name.c_str());
    if (plot_y) settings_set_plot_y_cell(plan.new_name.c_str());
    undo.plot_after = settings_plot_cells();
    undo.plot = plot_x || plot_y;
    undo.input_before = settings_input_name();
    if (undo.input) settings_set_input_name(plan.new_name.c_str());
    undo.input_after = settings_input_name();
    relex_lexed();
    undo.mark_changes = web_modified_changes();
    return true;
}

bool rename_can_undo() {
    const UndoRecord& u = g_undo;
    if (!u.held || entry_kind(u.cell) != NK_CELL || cell_name_string(u.cell) != u.new_name)
        return false;
    CellHandle other = cell_find(u.old_name.c_str());
    return other == 0 || other == u.cell;
}

bool rename_undo() {
    if (!rename_can_undo()) return false;
    UndoRecord u = std::move(g_undo);
    rename_forget();
    // Nothing edited or saved since the rename: the web is again as it was.
    bool unmodified = !u.was_modified && u.mark_changes == web_modified_changes();
    cell_rename(u.cell, u.old_name.c_str());
    for (const FieldChange& f : u.fields) {
        if (entry_kind(f.cell) != NK_CELL) continue;
        std::string now = text_to_string(cell_get(f.cell, f.field));
        if (now == f.after || (f.cut && now.empty())) put_field(f.cell, f.field, f.before);
    }
    if (u.plot && u.plot_after == settings_plot_cells())
        settings_set_plot_cells(u.plot_before.c_str());
    if (u.input && u.input_after == settings_input_name())
        settings_set_input_name(u.input_before.c_str());
    relex_lexed();
    web_set_modified(!unmodified);
    return true;
}

void rename_forget() { g_undo = UndoRecord{}; }

} // namespace tarvex
