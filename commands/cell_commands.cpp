#include "commands/cell_commands.h"

#include "core/name_tree.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/navigation.h"

namespace tarvex {

namespace {

const char* const INVALID_NAME = "Invalid Cellname";
const char* const EXISTS_LINKING = "Cell already exists, linking to it";

bool is_current_name(const std::string& name) {
    CellHandle c = current_cell();
    return c != 0 && name_compare(cell_name(c), name.c_str()) == 0;
}

// A cell is about to be created: refused while a script is paused or waits
// for input, since a new cell rebuilds the table under the paused script.
bool creation_refused() {
    if (!commands_locked_out()) return false;
    status_flash(LOCKED_OUT_TEXT);
    return true;
}

std::string normalized(const std::string& selected) {
    std::string name = selected;
    name_normalize(name);
    return name;
}

} // namespace

bool commands_locked_out() { return run_breakpoint_pause() || input_wait(); }

void new_cell_asking() {
    std::string name = ask_cell_name();
    if (name.empty()) return;
    if (cell_find(name.c_str())) {
        cell_go_command(name.c_str());
        status_flash(EXISTS_LINKING);
    } else {
        cell_new_command(name.c_str());
    }
}

void new_cell_from_box(const std::string& text) {
    if (name_is_valid(text.c_str()) && !cell_find(text.c_str()))
        cell_new_command(text.c_str());
    else
        new_cell_asking();
}

void new_cell_from_selection(const std::string& selected) {
    if (selected.empty()) {
        new_cell_asking();
        return;
    }
    std::string name = normalized(selected);
    if (name.empty() || !name_is_valid(name.c_str())) {
        status_flash(INVALID_NAME);
    } else if (cell_find(name.c_str())) {
        cell_go_command(name.c_str());
        status_flash(EXISTS_LINKING);
    } else {
        cell_new_command(name.c_str());
    }
}

bool forward_from_box(const std::string& text) {
    if (!name_is_valid(text.c_str())) return false;
    if (is_current_name(text))
        go_forward();
    else if (cell_find(text.c_str()))
        cell_go_command(text.c_str());
    else if (!creation_refused())
        cell_new_command(text.c_str());
    return true;
}

void forward_from_selection(const std::string& selected) {
    std::string name = normalized(selected);
    if (name.empty()) {
        go_forward();
    } else if (!name_is_valid(name.c_str())) {
        status_flash(INVALID_NAME);
    } else if (cell_find(name.c_str()) || !creation_refused()) {
        cell_go_command(name.c_str());
    }
}

bool go_to_name_from_box(const std::string& text) {
    if (!name_is_valid(text.c_str())) {
        // Lower-case n, unlike New Cell's message: users have seen both.
        status_flash("Invalid cellname");
        return false;
    }
    if (is_current_name(text)) return true;
    if (cell_find(text.c_str()))
        cell_go_command(text.c_str());
    else
        cell_new_command(text.c_str());
    return true;
}

bool delete_current_cell() {
    CellHandle c = current_cell();
    if (!c) return false;
    if (cell_is_home(c)) {
        status_flash("Can't Delete Home");
        return false;
    }
    if (!ask_ok_cancel("Delete current cell?", "Tarvex")) return false;
    cell_list_remove(c);
    cell_delete(c);
    web_set_modified(true);
    return true;
}

bool open_web_command(const char* name, WebOutcome& opened) {
    opened = web_open(name);
    int rc = opened.code;
    bool read = rc == SE_OK || rc == SE_BAD_WEB_FILE || rc == SE_READ_WEB || rc == SE_OUT_OF_MEMORY;
    if (opened.cancelled || !read) return false;
    if (rc != SE_OK) navigation_reset();
    return true;
}

bool open_startup_web(const std::string& file_name) {
    // A finished read has reset the navigation and filled the cell list.
    if (!file_name.empty() && web_open(file_name.c_str()).done()) return true;
    web_new();
    navigation_reset();
    return false;
}

std::vector<std::string> name_box_list() {
    std::vector<std::string> names;
    auto add = [&](const std::string& name) {
        if (names.empty() || names.back() != name) names.push_back(name);
    };
    if (run_breakpoint_pause()) {
        for (CellHandle h : run_call_stack())
            add(cell_name_string(h));
        CellHandle root = run_root_cell();
        if (!names.empty() && root) add(cell_name_string(root));
        return names;
    }
    CellHandle c = current_cell();
    if (!c) return names;
    CellHandle last = c;
    names.push_back(cell_name_string(c));
    back_iterate_start();
    for (CellHandle h = back_iterate_next(); h != 0; h = back_iterate_next()) {
        names.push_back(cell_name_string(h));
        last = h;
    }
    if (!cell_is_home(last)) names.push_back("home");
    return names;
}

void name_box_picked(const std::string& name) {
    if (!run_breakpoint_pause()) {
        go_back_to(name.c_str());
        return;
    }
    if (CellHandle c = cell_find(name.c_str())) {
        make_current(c);
        cell_list_select_current();
    }
}

bool visit_listed(CellHandle c) {
    if (c == 0 || entry_kind(c) != NK_CELL) return false;
    visit(c);
    return true;
}

void stop_command() {
    if (input_wait())
        keyboard_push(KEY_ESCAPE);
    else
        run_set_stop_request(true);
}

int print_cell_field(CellHandle c, int view) {
    struct Field {
        CellHandle cell;
        int view;
    } field{c, view};
    return settings_with_output_dest(
        OUT_PRINTER,
        [](void* context) {
            const Field& f = *static_cast<const Field*>(context);
            int rc = output_open();
            if (rc != 0) return rc;
            if (f.view == VIEW_TEXT)
                output_field(cell_text(f.cell));
            else if (f.view == VIEW_SCRIPT)
                output_field(cell_script(f.cell));
            else
                output_text(value_display(cell_value(f.cell)));
            output_close();
            return 0;
        },
        &field);
}

} // namespace tarvex
