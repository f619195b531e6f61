// The I/O error table and its status-line report.
#include "io/io_errors.h"

#include "frontend/frontend.h"

namespace tarvex {

namespace {
constexpr const char* k_messages[] = {
    "NONESUCH",
    "OUT OF MEMORY",
    "NO SUCH METHOD EXISTS",
    "UNABLE TO OPEN WEB FILE",
    "UNABLE TO WRITE TO WEB FILE",
    "UNABLE TO READ FROM WEB FILE",
    "UNABLE TO OPEN INPUT FILE",
    "UNABLE TO OPEN OUTPUT FILE",
    "UNABLE TO READ FROM INPUT FILE",
    "UNABLE TO WRITE TO OUPUT FILE",
    "INPUT CELL NAME INVALID",
    "OUTPUT CELL NAME INVALID",
    "INPUT IN USE",
    "OUTPUT IN USE",
    "INPUT NOT OPEN",
    "OUTPUT NOT OPEN",
    "OPERATION ABORTED",
    "UNABLE TO FIND PRINTER",
    "PRINTER ERROR",
    "PRINTING CANCELED",
    "INTERNAL ERROR",
};
constexpr int k_message_count = sizeof k_messages / sizeof k_messages[0];
} // namespace

const char* io_error_text(int code) {
    if (code > 0 || -code >= k_message_count) return "Unexpected Error!";
    return k_messages[-code];
}

int status_error(int code) {
    if (code != 0) status_flash(io_error_text(code));
    return code;
}

} // namespace tarvex
