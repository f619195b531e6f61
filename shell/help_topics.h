// The six help topics of the Help menu, written to the console.
#pragma once

#include <string>

namespace tarvex {

constexpr int HELP_TOPIC_COUNT = 6;

// Topic 1 Overview, 2 Report Format, 3 Builtin Functions, 4 Script Language,
// 5 Additional Info, 6 Debugging; "" for any other number.
const char* help_topic_text(int topic);
// The topic a Help command writes (60..65), or 0.
int help_topic_of_command(int id);
// Writes a topic to the console through the output stream.
void help_topic_write(int topic);

} // namespace tarvex
