// Small files of the running system that a setting rewrites (/tmp/TZ, the
// kernel's host name).
#pragma once

// Opens path for writing; when it opens, prints message (a line of its own)
// and writes text. 0, or -1 when the file cannot be opened.
int write_setting_file(const char* path, const char* message, const char* text);
