// Running shell commands and reading one-line files: how every program reads
// and changes the node's settings (uci) and small state files.
#pragma once

#include <cstddef>

#include "common/text.h"

// Runs `command` and copies the first line of its output, without "\n" and a
// "\r" before it, into out (at most 254 characters, cut to cap). 0 on
// success; 1 when the command cannot start or prints no line (out untouched).
int get_config(const char* command, char* out, size_t cap);
template <size_t N>
int get_config(const char* command, FixedText<N>& out) {
  return get_config(command, out.data(), N);
}

// Runs `command` through the shell; returns its raw status.
int set_uci_config(const char* command);
// Runs "uci commit <package>".
int commit_uci_config(const char* package);

// Copies the first line of a file (at most 48 characters) into out, without
// its line end. 0 on success, 1 when the file is missing or empty.
int read_file(const char* path, char* out, size_t cap);
template <size_t N>
int read_file(const char* path, FixedText<N>& out) {
  return read_file(path, out.data(), N);
}

// mkdir with mode 0775: 0 or -1.
int make_directory(const char* path);
// 0 when the path exists, -1 when it does not.
int path_exists(const char* path);
// chmod 0644: 0 on success.
int make_world_readable(const char* path);
