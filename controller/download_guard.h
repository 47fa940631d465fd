// URLs and paths from the dashboard that reach a download command.
#pragma once

// wget takes a word that starts with '-' as an option even when the shell
// quoting keeps it one word, so such a value could change where wget writes
// or what it runs. True (after a message naming `what`) for such a value.
bool refuse_option_like(const char* what, const char* value);
