// Printing and logging through the host: standard output (puts/printf),
// standard error (fprintf/perror) and the system log.
#pragma once

#include <cstddef>

// puts: the text and a line end.
void out_line(const char* text);
void out_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void err_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// perror: "<prefix>: <error text>" on standard error.
void err_perror(const char* prefix);
void log_printf(int priority, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// A message from a constant table of the program's is a format too: the
// table beside each use names the conversions its call passes.
#define TABLE_FORMAT_BEGIN _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wformat-nonliteral\"")
#define TABLE_FORMAT_END _Pragma("GCC diagnostic pop")
