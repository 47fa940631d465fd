// Received setting values: their numbers, their comparison with the stored
// settings and their place in shell commands.
#pragma once

#include <cstddef>

#include "common/text.h"

// The usual decimal conversion: leading blanks, a sign and leading digits;
// 0 when there are none. Values beyond the int range are clamped.
int decimal_value(const char* text);

// True when the value, cut to the field's capacity (cap, terminator
// included) as it would be stored, differs from the stored text. Comparing
// the cut value keeps an overlong value from counting as a change at every
// reply.
bool text_differs(const char* stored, size_t cap, const char* value);
template <size_t N>
bool text_differs(const FixedText<N>& stored, const char* value) {
  return text_differs(stored.c_str(), N, value);
}

// Values that are acted on (a URL fetched and run, an image flashed, a
// password or key set) must never be cut into another value. True when the
// value fits a field of capacity cap whole; else prints "<what> refused:
// longer than <cap - 1> characters" and is false.
bool value_fits(const char* what, const char* value, size_t cap);
template <size_t N>
bool value_fits(const char* what, const char* value, const FixedText<N>&) {
  return value_fits(what, value, N);
}

// Md5 sums as md5sum prints them: 32 hex digits, compared without regard
// to case.
bool is_md5(const char* text);
bool md5_equal(const char* a, const char* b);

// Room for any quoted field of the node (at most 255 characters, 1022 when
// every character is a quote) and the command around it.
using CommandText = FixedText<1152>;

// Formats head, the value's shell form (common/shell_quote.h) and tail into
// cmd. A value too long for the buffer is cut, never its quoting or the tail.
const char* setting_command(CommandText& cmd, const char* head, const char* value, const char* tail = "");

// URLs and paths from the dashboard that reach a download command.
// wget takes a word that starts with '-' as an option even when the shell
// quoting keeps it one word, so such a value could change where wget writes
// or what it runs. True (after a message naming `what`) for such a value.
bool refuse_option_like(const char* what, const char* value);

// Small files of the running system that a setting rewrites (/tmp/TZ, the
// kernel's host name).
// Opens path for writing; when it opens, prints message (a line of its own)
// and writes text. 0, or -1 when the file cannot be opened.
int write_setting_file(const char* path, const char* message, const char* text);
