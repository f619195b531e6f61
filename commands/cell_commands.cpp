#include "commands/cell_commands.h"

#include "core/value.h"
#include "frontend/frontend.h"
#include "io/input_stream.h"
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
