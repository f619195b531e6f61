// The Report command.
#include "commands/report_command.h"

#include "frontend/frontend.h"
#include "io/output_stream.h"
#include "reports/reports.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/navigation.h"

namespace tarvex {

int report_command() {
    commit_all_panes();
    if (!settings_report_all()) selection_from_text(frontend().selected_text());
    // A report made while a run is paused writes into the run's open output
    // and leaves it open: closing would clear the console or cut the file.
    bool keep_open = run_active() && output_is_open();
    int r;
    if (settings_report_type() == RPT_TRAIL)
        r = report_trail();
    else if (settings_report_all())
        r = report_all();
    else if (report_selection().empty())
        r = report_current();
    else
        r = report_selected();
    if (!keep_open) {
        int closed = output_close();
        if (r == 0) r = closed;
    }
    reshow_current();
    return r;
}

} // namespace tarvex
