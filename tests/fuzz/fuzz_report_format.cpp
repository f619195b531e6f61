// Fuzz target: arbitrary report formats (and the selection text) walked over
// a small web, for every report type.
#include "fuzz_support.h"

#include "commands/report_command.h"
#include "core/value.h"
#include "io/output_stream.h"
#include "reports/reports.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <string>

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string format(reinterpret_cast<const char*>(data), size);
    return fuzz::on_fresh_web([&] {
        CellHandle a = cell_create("alpha");
        cell_set_text(a, "names beta and home");
        cell_set_script(a, "beta! out('x')");
        cell_set_value(a, value_new_number(3.25));
        cell_set_text(cell_create("beta"), "alpha alpha");
        settings_set_report_format(format.c_str());
        selection_from_text(format);
        for (uint8_t type = 1; type <= 4; ++type) {
            settings_set_report_type(type);
            settings_set_report_all(type & 1);
            report_command();
            report_statement_run(true);
            output_close();
        }
    });
}
