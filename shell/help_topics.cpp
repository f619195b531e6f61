// The help topics. They go through the output stream, which processes
// backslashes and quotes: every backslash below stands inside a pair of
// double quotes (so it is written as it is), and no topic leaves a quote
// open (a topic written while a paused run has the output open must not
// change how the run's later output is read).
#include "shell/help_topics.h"

#include "io/output_stream.h"
#include "settings/setting_table.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/main_window.h"
#include "tarvex_version.h"

#include <algorithm>

namespace tarvex {

namespace {

const char* const OVERVIEW = R"(OVERVIEW
Tarvex keeps a web: a network of named cells. Every cell has four fields:
  name    letters, digits and _ ; it starts with a letter
  text    free text; every cell name in it is a link
  value   a number or a string
  script  a small program that computes values

THE VIEWS
The window shows the current cell in six views:
  list    all cells in name order (Up and Down step through them)
  text    the text field
  value   the value field
  script  the script field
  cons    the console: output of scripts, reports and help, and
          the place where you type input for a script
  plot    the plot of two cells while a script runs

LAYOUTS
Two layouts show them. The desktop layout (the first one) keeps them in
sight at once: the text, value and script fields are tabs in the middle;
around them are docks, panels that can be moved, stacked as tabs,
floated or closed (the View menu opens them again):
  Cells         the list, with a filter field above it: type part of a
                name (case, and _ or a space, do not matter); Enter
                opens the first cell it shows, Up and Down go into the
                list
  Console       under the editors, always in sight: Run shows its
                output there at once
  Plot          on the right
  Values        every cell with its value, under the plot, kept up to
                date while a script runs; double-click a name to visit
                the cell, or, while paused, a value to change it
  Call Stack    the cells of a run paused at a breakpoint; click one
                to look at it, as in the list of the name box
  Links here    the cells that name this one, and Links from here, the
                cells this one names, under the cells
  Web Map       the web as a graph (View > Web Map, see below)
The pane you click in is the visible view: Ctrl+P, Run and the other
commands take its text. Where the docks are and how big they are is
kept for the next start; View > Reset Layout puts the docks back where
they first were. View > Compact Layout (Ctrl+Shift+K) switches
to the compact layout: one pane at a time, with the six tabs at the
bottom. Switching back brings the docks back as they were.
View menu: Ctrl+1 to Ctrl+6 show these views (in the desktop layout the
list, cons and plot views bring their dock to the front); Ctrl+Tab or
Ctrl+PgDown goes to the next view, Ctrl+Shift+Tab or Ctrl+PgUp to the
previous one. Zoom is there too.

MOVING AROUND
Click a link in a text, or Ctrl+click one in a script (a plain click
there places the caret, so you can edit the name; the pointing hand
shows while Ctrl is held). In the list, type the first letters of a
name to jump to it; Home, End, Page Up and Page Down move as in any
list; Enter or a double click opens the cell on its text tab. Escape
in the filter above the list clears it, and a second Escape goes back
to the pane. Ctrl+L (or F4) selects the name in the box at the top,
like the address bar of a browser: type a name and press Enter.
"<" and ">" (Alt+Left, Alt+Right) go back and forward through the
cells you visited. Alt+Up and Alt+Down step to the previous and next
cell. Double-clicking a word that names no cell creates that cell
(after asking, unless the settings say otherwise).

MENUS
Cell menu: New (Alt+N), Clone (Alt+C), Delete (Alt+D), Back, Forward,
Previous and Next Cell, Go to Cell Name (Ctrl+L). A name selected in a
pane is used by New; with nothing selected a dialog asks for the name.
When a run stops at a name that is no cell, the note under the script
line names it, and Create Missing Cell (Ctrl+.) makes that cell.
Rename (F2) gives the current cell a new name and rewrites every text
link and script name of it (quoted strings stay as they are), after
showing what changes; Edit > Undo Rename (Ctrl+Z in the cell list) puts
it all back.

Run menu and tool buttons: Report writes a report on the cells (see
Report Format); Run (Alt+R or Ctrl+F5) runs the script of the current
cell as many times as the iteration setting says, writing an automatic
output line after each iteration; Run to Brk (Alt+B or F5) stops at
breakpoints (see Debugging); Stop (Alt+S or Shift+F5) ends a run or a
wait for input. Step Over (F10), Step Into (F11), Step Out (Shift+F11),
Run to Cursor (Ctrl+F10) and Toggle Breakpoint (F9) are the debugger.
The tooltips of the buttons name their keys.

Edit menu: Undo (Ctrl+Z), Cut, Copy, Paste, Select All (Ctrl+X, C, V,
A), Find and Replace (below).

File menu: New (Ctrl+N), Open (Ctrl+O), Save (Ctrl+S), Save As
(Ctrl+Shift+S), Export, the webs opened last, and Quit (Ctrl+Q). A
web and all its settings are kept in one web file (*.tvx); the title
bar marks a web with unsaved changes with a star. Ctrl+P writes the
field of the visible view to the console.

Settings (Alt+T) choose, page by page: Links (how links look),
Report, Output, Input, Number (the number format), Execution and Plot.
Edit > Preferences chooses the size of the store for the next start
(see Additional Info), and whether the script pane and the console
show a fixed-width font (on at first) or the font of the web.

FIND AND REPLACE
Find (Ctrl+F) opens the search bar under the panes, in the text or
script field: type the text and press Enter for the next match, in
this cell and then in the same field of the following cells. The
status line says Search wrapped when the search starts over from the
first cell, and Not found when nothing matches. repl replaces the
match found; Replace All counts the matches in every cell, asks, and
replaces them all, one Undo step in each cell. Escape closes the bar.
Replace (Ctrl+H) asks for both texts in a dialog first.

ZOOM AND FOCUS
View > Zoom chooses the size of the text and console panes; Ctrl+= (or
Ctrl++) and Ctrl+- step through its sizes, Ctrl+0 goes back to 100%.
Other keys held with Ctrl or Alt type nothing.
F6 moves the keyboard focus between the name box and the visible pane.
Tab does the same in the name box, the list, the value pane and the
console; in the text and script panes Tab indents, as in any editor.

THE PLOT
While a script runs, the values of two cells (the Plot page of the
settings) are drawn against each other in the plot view. ErasePlot
(Ctrl+E) clears it. A click in the plot shows the point under the
mouse on the status line. File > Save Plot As writes the plot as a
PNG picture (at the size of the view, the handheld size or a size you
choose) or as an SVG drawing. Equal Axes in the menu of the plot keeps
one unit as long on both axes, so circles stay round.

THE WEB MAP
View > Web Map (Ctrl+Shift+M) opens a dock that draws the web as a
graph: a box for each cell, a solid arrow for each cell a text names
and a dashed one for each cell a script names. The current cell is
highlighted; a click on a box visits that cell. Ctrl with the mouse
wheel, or the + and - buttons, zoom; dragging moves the graph; Fit
shows it whole again. The map follows new cells and links once a
second and keeps the current cell in view.

HELP
F1 opens the help window on the topic of the pane you work in, and
Help > Contents on its list of topics; its search field finds the
topics that hold the words typed. The Help Topics menu writes a topic
to the console instead. The file docs/differences.md lists the keys
and everything else this edition adds to the handheld one.

KEYS
)";

const char* const REPORT_FORMAT = R"(REPORT FORMAT
The Report button, and the report statement of scripts, write a report
to the output. The report type is one of:
  formatted  the report format below, once per cell
  inptrs     for each cell, the cells whose text names it
  outptrs    for each cell, the cells its text names
  trail      the cells you visited, most recent first
When the script tab is visible (or the console, opened from the script
tab), the pointer reports follow the names in scripts instead of texts.

Which cells: all cells when "Report on All Cells" is set; otherwise the
cells named in the text selected in the focused pane, or the current
cell when nothing is selected.

The report format is copied once per cell. These sequences are
replaced:
  "\n"  a new line
  "\N"  the name of the cell
  "\V"  the value of the cell, in the current number format
  "\T"  the text of the cell
  "\S"  the script of the cell
A backslash before any other character writes that character.
The default format is
  "\n*****\N**************************\n\T\n\n"
which writes a line of stars holding the name, then the text.

Like all output, a report goes to the console, a file or the printer
(the console), as the output settings say.
)";

const char* const BUILTINS = R"(BUILTIN FUNCTIONS
  min(a, b, ...)      the smallest of the numbers
  max(a, b, ...)      the largest of the numbers
  mean(a, b, ...)     the arithmetic mean
  abs(x)              absolute value
  sign(x)             -1, 0 or 1
  stp(x)              step: 1 when x >= 0, else 0
  sig(x)              sigmoid: 1 / (1 + exp(-x))
  sin(x) cos(x) tan(x)       in degrees or radians (trigunits)
  asin(x) acos(x) atan(x)    results in the same units
  sqrt(x)             square root
  ln(x)               natural logarithm
  log(x)              base-10 logarithm
  exp(x)              e to the power x
  pow(a, b)           a to the power b
  rand()              a pseudo-random number from 0 to 1;
                      rand(seed) first reseeds the generator
  mem()               the number of storage nodes in use
  slen(s)             the number of characters of s
  first(s, n)         the first n characters of s
  last(s, n)          the last n characters of s
  butfirst(s, n)      s without its first n characters
  butlast(s, n)       s without its last n characters
  previous(c, n, d)   the value cell c had n assignments ago
                      (d when there is none)
  gaussj(A, n, B, m)  inverts the n by n matrix held in the cells from A
                      on and solves for the m columns from B on;
                      0, or -1 when A is singular
  rref(A, r, c)       reduces the r by c matrix from cell A on to
                      reduced row echelon form
  lookup(x, x1, y1, x2, y2, ...)
                      piecewise linear interpolation of x
Constants: pi, e, deg (degrees per radian), eof (1 after the input
ended).
A matrix is held in consecutive cells in name order, row by row.
)";

const char* const SCRIPT_LANGUAGE_HEAD = R"(SCRIPT LANGUAGE
A script is a list of statements; no separators are needed.
  set x to expr        gives cell x a value ("to" may be left out)
  expr                 a lone expression becomes the value of the
                       cell whose script it is
  if (c) { } elseif (c) { } else { }
  while (c) { }
  do { } while (c)
  for (i = a to b step s) { }    i is a cell; step is optional
  exit                 ends the run
  brk (expr)           shows expr and pauses (see Debugging)
  in ("prompt", x, y)  reads values into cells x and y
  out (expr, ...)      writes values, without separators
  report (x, y)        reports on the cells listed; report () on all
                       cells or the current one

Expressions: numbers, "strings" or 'strings', cell names, and
  + - * / %            arithmetic (% is the remainder)
  cat                  joins two texts
  = <> < <= > >=       comparisons (one per expression)
  and or not           logic: 0 is false, anything else true
  x[i]                 the cell i places after x in name order
  f!                   runs the script of cell f; its value is the result
  f(a, b)              the same with arguments; the script reads
                       them as %1, %2, ...
Inside an out string, "\n" starts a new line.

INPUT AND OUTPUT
in reads from the keyboard, a cell or a file, as intype says. From the
keyboard it writes its prompt to the console and waits: type the values
there and press Enter; Stop (Alt+S) ends the input. eof is 1 once the
input has ended. out writes to the console, a file or the printer (here
the console too), as outtype says; so does a report.

)";

// After the configuration lines, which come from the settings table.
const char* const SCRIPT_LANGUAGE_TAIL =
    R"(Files named without a dot get ".txt" added; the defaults are ./Input
and ./Output.
)";

// "word"|"word"|... : the words a `set` statement takes for a setting.
std::string set_words(SettingId id) {
    std::string s;
    for (const SettingWord& w : setting_row(id).words) {
        if (!s.empty()) s += '|';
        s += '"' + std::string(w.script ? w.script : w.file) + '"';
    }
    return s;
}

std::string configuration_help() {
    struct Line {
        const char* set;
        std::string what;
        const char* meaning;
    };
    const Line lines[] = {
        {"intype", set_words(S_INPUT_TYPE), "where in reads from"},
        {"inname", "\"name\"", "the input file or cell"},
        {"outtype", set_words(S_OUTPUT_DEST), "where output goes"},
        {"outname", "\"name\"", "the output file"},
        {"numfmt", set_words(S_NUMBER_STYLE), "the number format"},
        {"numdec", "2", nullptr},
        {"rpttype", set_words(S_REPORT_TYPE), nullptr},
        {"rptfmt", "\"format\"", "the report format"},
        {"trigunits", set_words(S_TRIG_UNITS), nullptr},
    };
    constexpr size_t MEANING_COLUMN = 42;
    std::string text = "Configuration, from a script:\n";
    for (const Line& l : lines) {
        std::string line = std::string("  set ") + l.set + " " + l.what;
        std::string meaning = l.meaning ? l.meaning : "";
        if (std::string(l.set) == "numdec")
            meaning = "decimals (0 to " + std::to_string(SET_SCRIPT_DECIMALS_MAX) + ")";
        if (!meaning.empty()) {
            line.resize(std::max(line.size() + 1, MEANING_COLUMN), ' ');
            line += meaning;
        }
        text += line + "\n";
    }
    return text;
}

const char* script_language() {
    static const std::string text =
        std::string(SCRIPT_LANGUAGE_HEAD) + configuration_help() + SCRIPT_LANGUAGE_TAIL;
    return text.c_str();
}

const char* const ADDITIONAL_INFO = R"(ADDITIONAL INFO
Tarvex   v)" TARVEX_VERSION R"(, a desktop edition of the web calculator for handheld
computers.
The README that comes with this program describes tarvex-run, which
runs webs without a window, and the web file format; the file
docs/differences.md lists where this edition differs from the handheld
one, and why.
Webs are plain text files: keep copies of the ones you value.

THE STORE
Cells, texts, values and running scripts live in a store of nodes of
40 bytes each: 10,000 of them by default, as on the handheld, where
every mem() figure and every limit is as there. Scripts name the
first 256 cells in name order; a cell past those can be made, but the
status line says that scripts cannot name it. Edit > Preferences
chooses a store of up to 65,535 nodes for the next start: it holds
larger webs, and then scripts name every cell. A web that does not fit
the store is measured before it is opened, and you are asked whether to
reopen it in a store of the size it needs (tarvex-run: --store=N).
A text links the cell names in its first 4,095 characters; the text
pane shades the rest, and the Links dock says so.
)";

const char* const DEBUGGING = R"(DEBUGGING
brk (expr) in a script writes <BRK:expr> to the console and pauses the
run when it was started with Run to Brk (Alt+B). Run (Alt+R) ignores
breakpoints: it writes the line and goes on.

While a script is paused you may look at any cell, edit texts, values
and scripts, and open the list of the cell-name box: it shows the call
stack, the cell being executed first and the cell the run started in
last. Picking a name there shows that cell.

While paused, or while a script waits for typed input, commands that
would change the web, its file or its settings (New, Open, Save,
Save As, Ctrl+P, Find (Ctrl+F), Replace (Ctrl+H), Settings, New
cell, Clone, Delete, Quit, Enter in the name box, and creating a cell
by a name) are refused with "Operation locked out". While a script writes output, everything
but Stop, tab switching, Zoom, ErasePlot, About and Toggle Breakpoint
is refused.

Run (Alt+R, Ctrl+F5) resumes a paused script and ignores further
breakpoints. Run to Brk (Alt+B, F5) resumes it and pauses at the next
brk or breakpoint. Stop (Alt+S, Shift+F5) ends the run ("Run halted"),
or ends a wait for input. Run and Run to Brk are refused while the
search bar is open. Errors end the run with SCRIPT ERROR, the message,
and the cell.

BREAKPOINTS AND STEPPING
A click in the margin beside the line numbers of the script pane, or
F9, sets a breakpoint on that line (a red circle) or removes it. A run
started with Run to Brk (F5) pauses at the first statement that starts
on the line, as at a brk but with no output line. Breakpoints move with
their lines as the script is edited. The Breakpoints dock lists them:
switch one off with its box, give it a condition (an expression; the
run pauses there only where it is true, and an error in it pauses and
shows in the status line), remove one or all, and double-click a row to
see its line. The context menu of the margin edits a condition too.
They are kept in your settings for each web file, not in the web.

While paused, Step Over (F10) goes to the next statement of this cell
or of a caller, Step Into (F11) to the next statement anywhere, Step
Out (Shift+F11) to the next statement of the caller, and Run to Cursor
(Ctrl+F10) to the line of the caret in the shown script. Each pauses
with the paused line marked, as a brk does. F5 goes on to the next
breakpoint.

The Call Stack dock lists the calls active at the pause, innermost
first, each with its arguments (a recursion gives a row per call);
clicking a row shows its script with its line marked. Resting the
mouse on a cell name in a script shows its value, and on a builtin its
arguments.
)";

// The keys of the help, in the order of the menus. A row with a command
// takes its keys from the window's key table, so a key given to a command
// there is listed here too; a row without one names keys that act in one
// place only, or act through a menu item of their own.
struct KeyRow {
    int command;
    const char* keys; // when command is 0
    const char* what;
};

const KeyRow KEY_ROWS[] = {
    {CMD_NEW_WEB, nullptr, "New web"},
    {CMD_OPEN, nullptr, "Open a web"},
    {CMD_SAVE, nullptr, "Save"},
    {CMD_SAVE_AS, nullptr, "Save As"},
    {CMD_PRINT, nullptr, "write the field of the visible view to the console"},
    {CMD_QUIT, nullptr, "Quit"},
    {CMD_UNDO, nullptr, "Undo"},
    {CMD_REDO, nullptr, "Redo"},
    {CMD_CUT, nullptr, "Cut"},
    {CMD_COPY, nullptr, "Copy"},
    {CMD_PASTE, nullptr, "Paste"},
    {CMD_SELECT_ALL, nullptr, "Select All"},
    {CMD_COMPLETE, nullptr, "complete the name being typed"},
    {CMD_CLEAR, nullptr, "delete the selection"},
    {CMD_FIND_BAR, nullptr, "Find: the search bar"},
    {CMD_FIND, nullptr, "Replace: a dialog for both texts"},
    {CMD_ERASE_PLOT, nullptr, "ErasePlot"},
    {CMD_SETTINGS, nullptr, "Settings"},
    {CMD_NEW_CELL, nullptr, "New cell, named by the selection"},
    {CMD_CLONE, nullptr, "Clone the cell"},
    {CMD_RENAME_CELL, nullptr, "Rename the cell, every link to it rewritten"},
    {CMD_DELETE, nullptr, "Delete the cell"},
    {CMD_QUICK_FIX, nullptr, "create the cell a script error names"},
    {CMD_BACK, nullptr, "back to the cell visited before"},
    {CMD_FORWARD, nullptr, "forward, or to the cell selected"},
    {CMD_PREVIOUS_CELL, nullptr, "the previous cell by name"},
    {CMD_NEXT_CELL, nullptr, "the next cell by name"},
    {CMD_GO_TO_BOX, nullptr, "the name box, its name selected"},
    {CMD_QUICK_SWITCHER, nullptr, "find a cell by its name or the words of its text"},
    {CMD_VIEW_LIST, nullptr, "the list view"},
    {CMD_VIEW_TEXT, nullptr, "the text view"},
    {CMD_VIEW_VALUE, nullptr, "the value view"},
    {CMD_VIEW_SCRIPT, nullptr, "the script view"},
    {CMD_VIEW_CONS, nullptr, "the console view"},
    {CMD_VIEW_PLOT, nullptr, "the plot view"},
    {CMD_NEXT_TAB, nullptr, "the next view"},
    {CMD_PREVIOUS_TAB, nullptr, "the previous view"},
    {CMD_SWITCH_FOCUS, nullptr, "the focus to the name box and back"},
    {CMD_ZOOM_IN, nullptr, "Zoom In"},
    {CMD_ZOOM_OUT, nullptr, "Zoom Out"},
    {CMD_ZOOM_RESET, nullptr, "Reset Zoom"},
    {CMD_COMMAND_PALETTE, nullptr, "every command by name, with its keys"},
    {0, "Ctrl+Shift+K", "Compact Layout, on or off"},
    {0, "Ctrl+Shift+M", "Web Map, shown or hidden"},
    {CMD_RUN, nullptr, "Run, or go on from a breakpoint ignoring the rest"},
    {CMD_RUN_TO_BRK, nullptr, "Run to Brk, or go on to the next breakpoint"},
    {CMD_STOP, nullptr, "Stop a run or a wait for input"},
    {CMD_STEP_OVER, nullptr, "Step Over, while paused"},
    {CMD_STEP_INTO, nullptr, "Step Into, while paused"},
    {CMD_STEP_OUT, nullptr, "Step Out, while paused"},
    {CMD_RUN_TO_CURSOR, nullptr, "Run to Cursor, while paused"},
    {CMD_TOGGLE_BREAKPOINT, nullptr, "Toggle Breakpoint on the script line of the caret"},
    {CMD_HELP_CONTENTS, nullptr, "the help window, on the topic of the pane"},
    {0, "Up, Down", "in the cell list: the previous and next cell"},
    {0, "Home, End, PgUp, PgDown", "in the cell list: the first or last cell, a page up or down"},
    {0, "Enter", "in the cell list: open the cell; in its filter: the first cell shown"},
    {0, "Escape", "in the cell filter: clear it, then back to the pane"},
    {0, "Ctrl+Z", "in the cell list: Undo Rename"},
    {0, "Tab", "in the text and script panes: indent"},
    {0, "Ctrl+click", "in a script: follow the link"},
};

std::string key_table() {
    std::vector<HelpKey> keys = help_keys();
    size_t column = 0;
    for (const HelpKey& k : keys)
        column = std::max(column, k.keys.size());
    std::string text;
    for (const HelpKey& k : keys) {
        std::string line = "  " + k.keys;
        line.resize(column + 4, ' ');
        text += line + k.what + "\n";
    }
    return text;
}

const char* overview() {
    static const std::string text = std::string(OVERVIEW) + key_table();
    return text.c_str();
}

} // namespace

std::vector<HelpKey> help_keys() {
    std::vector<HelpKey> keys;
    for (const KeyRow& row : KEY_ROWS) {
        std::string named = row.command ? accelerator_text(row.command).toStdString() : row.keys;
        if (!named.empty()) keys.push_back({named, row.what});
    }
    return keys;
}

const char* help_topic_title(int topic) {
    static const char* const titles[HELP_TOPIC_COUNT] = {"Overview",          "Report Format",
                                                         "Builtin Functions", "Script Language",
                                                         "Additional Info",   "Debugging"};
    return topic >= 1 && topic <= HELP_TOPIC_COUNT ? titles[topic - 1] : "";
}

const char* help_topic_text(int topic) {
    switch (topic) {
    case 1: return overview();
    case 2: return REPORT_FORMAT;
    case 3: return BUILTINS;
    case 4: return script_language();
    case 5: return ADDITIONAL_INFO;
    case 6: return DEBUGGING;
    default: return "";
    }
}

int help_topic_of_command(int id) {
    switch (id) {
    case 60: return 1;
    case 61: return 2;
    case 62: return 3;
    case 63: return 4;
    case 65: return 5;
    case 64: return 6;
    default: return 0;
    }
}

void help_topic_write(int topic) {
    std::string text;
    for (const char* p = help_topic_text(topic); *p; ++p) {
        if (*p == '\n') text += '\r';
        text += *p;
    }
    if (output_is_open()) {
        // A paused run holds the output: add to the console without
        // touching the run's stream when it writes to a file.
        if (output_to_console())
            output_text(text);
        else
            console_write(text);
        console_flush();
        return;
    }
    settings_with_output_dest(
        OUT_SCREEN,
        [](void* context) {
            int rc = output_open();
            if (rc != 0) return rc;
            output_text(*static_cast<const std::string*>(context));
            output_close();
            return 0;
        },
        &text);
}

} // namespace tarvex
