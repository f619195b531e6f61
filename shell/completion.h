// Help while typing names: the script pane offers the words a script can
// use (cell names, builtins, reserved words, system constants) as they are
// typed, shows a builtin's arguments once its "(" is typed, and closes
// brackets and quotes; the name fields offer cell names. Nothing is put in
// that the user did not choose.
#pragma once

#include <string>
#include <string_view>

class QLineEdit;
class QsciScintilla;

namespace tarvex {

// Sets the script pane up for completion, call tips, hover tips (a cell's
// value, a builtin's arguments) and closing brackets
// (again after each editor set-up; the handlers are connected once).
void completion_install(QsciScintilla* script);
// Cell names offered in a name field: by prefix as they are typed, or
// (where what is typed already narrows a list in sight) anywhere in the name
// when asked for.
void name_completion_install(QLineEdit* edit, bool as_typed);
// The completion list asked for (Ctrl+Space) in the widget with the focus.
void completion_asked();

// The argument lists of a builtin as the help's builtin topic gives them
// ("pow(a, b)"), one per line; "" for a name that is no builtin.
std::string builtin_call_tip(std::string_view name);
// The call tip the script pane shows, "" when none.
std::string completion_tip_shown();

} // namespace tarvex
