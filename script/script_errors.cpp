// The script error messages.
#include "script/script_errors.h"

namespace tarvex {

const char* script_error_message(int code) {
    switch (code) {
    case -1: return "Out of memory";
    case -2: return "No such method exists";
    case -3: return "Unable to open web file";
    case -4: return "Unable to write to web file";
    case -5: return "Unable to read from web file";
    case -6: return "Unable to open input file";
    case -7: return "Unable to open output file";
    case -8: return "Unable to read input file";
    case -9: return "Unable to write output file";
    case -10: return "Input cell name invalid";
    case -11: return "Output cell name invalid";
    case -12: return "Input in use";
    case -13: return "Output in use";
    case -14: return "Input not open";
    case -15: return "Output not open";
    case -16: return "Operation aborted";
    case -17: return "Cannot find printer";
    case -18: return "Printer error";
    case -19: return "Printing cancelled";
    case -64: return "Bad identifier";
    case -65: return "Illegal character";
    case -100: return "Lexical analysis";
    case -101: return "Missing '{'";
    case -102: return "Stack overflow";
    case -103: return "Illegal statement";
    case -104: return "Missing '}'";
    case -105: return "Bad set statement";
    case -107: return "Invalid expression";
    case -108: return "Missing paren";
    case -109: return "Exit requested";
    case -110: return "Run halted";
    case -111: return "Subscript missing ']'";
    case -112: return "Subscript out of range";
    case -115: return "Expected input name (in quotes)";
    case -116: return "Expected input type (in quotes)";
    case -121: return "Expected output name (in quotes)";
    case -122: return "Expected output type (in quotes)";
    case -126: return "Expected format string (in quotes)";
    case -127: return "Number format should be 'fixed', 'expn', or 'general'";
    case -128: return "Bad number of decimal places";
    case -129: return "Expected report type (in quotes)";
    case -133: return "Expected argument number";
    case -135: return "Trig units should be 'degrees' OR 'radians'";
    case -137: return "Argument list error";
    case -138: return "Builtin function call";
    case -139: return "Builtin function arg";
    case -140: return "Argument number invalid";
    case -141: return "Unexpected end of script";
    case -142: return "Misuse of reserved word";
    case -143: return "First arg of set must be reserved word or cellname";
    case -144: return "Poorly formatted cell list";
    case -146: return "Bad DO syntax";
    case -148: return "Insufficient memory for cell I/O";
    case -151: return "Bad FOR statement";
    case -152: return "Syntax error";
    case -153: return "Expected '(' ";
    case -154: return "Expected ')' ";
    case -155: return "Expected '='";
    case -157: return "Input Aborted";
    case -158: return "Attempted to read past end of file";
    case -159: return "Bad IN statement";
    case -160: return "Missing ',' or ')' in OUT stmt";
    case -199: return "Internal software error";
    default: return "";
    }
}

} // namespace tarvex
