// The six help topics of the Help menu, written to the console and shown
// as pages of the help window.
#pragma once

#include <string>
#include <vector>

namespace tarvex {

constexpr int HELP_TOPIC_COUNT = 6;

// Topic 1 Overview, 2 Report Format, 3 Builtin Functions, 4 Script Language,
// 5 Additional Info, 6 Debugging; "" for any other number.
const char* help_topic_text(int topic);
// A topic's name as the Help Topics menu gives it ("Overview", ...).
const char* help_topic_title(int topic);
// The key table that ends the overview: the keys (as menus name them,
// "Alt+R, F5") and what they do.
struct HelpKey {
    std::string keys;
    std::string what;
};
std::vector<HelpKey> help_keys();
// The topic a Help command writes (60..65), or 0.
int help_topic_of_command(int id);
// Writes a topic to the console through the output stream.
void help_topic_write(int topic);

} // namespace tarvex
