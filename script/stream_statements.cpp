// The configuration and stream statements: set with a configuration word,
// in and report.
#include "script/interpreter.h"

namespace tarvex {

int stmt_set_config(CellHandle) { return SE_ILLEGAL_STATEMENT; }
int stmt_in(CellHandle) { return SE_ILLEGAL_STATEMENT; }
int stmt_report(CellHandle) { return SE_ILLEGAL_STATEMENT; }

} // namespace tarvex
