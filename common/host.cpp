#include "common/host.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/real_host.h"
#include "common/signals.h"

namespace {
Host* g_host = nullptr;
}

Host& host() {
  if (!g_host) g_host = &real_host();
  return *g_host;
}

Host* set_host(Host* h) {
  Host* old = g_host ? g_host : &real_host();
  g_host = h ? h : &real_host();
  return old;
}

bool CommandStream::next_byte(char& c) {
  if (scripted) {
    if (text_len == 0) return false;
    c = *text++;
    --text_len;
    return true;
  }
  if (pos == len) {
    if (eof) return false;
    ssize_t got = read_command_pipe(fd, buf, sizeof(buf));
    if (got <= 0) {
      eof = true;
      return false;
    }
    len = static_cast<size_t>(got);
    pos = 0;
  }
  c = buf[pos++];
  return true;
}

bool CommandStream::gets(char* out, int size) {
  if (size <= 0) return false;
  int n = 0;
  char c;
  while (n < size - 1 && next_byte(c)) {
    out[n++] = c;
    if (c == '\n') break;
  }
  out[n] = '\0';
  return n > 0;
}

const char* host_path(const char* path, PathText& out) {
  const char* root = host().root();
  if (path && path[0] == '/' && root && root[0]) {
    out.format("%s%s", root, path);
  } else {
    out.set(path);
  }
  return out.c_str();
}

FILE* host_fopen(const char* path, const char* mode) {
  PathText p;
  return fopen(host_path(path, p), mode);
}

int host_open(const char* path, int flags, mode_t mode) {
  PathText p;
  return open(host_path(path, p), flags, mode);
}

int host_unlink(const char* path) {
  PathText p;
  return unlink(host_path(path, p));
}

int host_access(const char* path, int mode) {
  PathText p;
  return access(host_path(path, p), mode);
}

int host_stat(const char* path, struct stat* st) {
  PathText p;
  return stat(host_path(path, p), st);
}

DIR* host_opendir(const char* path) {
  PathText p;
  return opendir(host_path(path, p));
}

int host_rename(const char* from, const char* to) {
  PathText a;
  PathText b;
  return rename(host_path(from, a), host_path(to, b));
}

int host_mkdir(const char* path, mode_t mode) {
  PathText p;
  return mkdir(host_path(path, p), mode);
}

int host_chmod(const char* path, mode_t mode) {
  PathText p;
  return chmod(host_path(path, p), mode);
}

int host_write_file(const char* path, const char* text) {
  FILE* f = host_fopen(path, "w");
  if (!f) return -1;
  fputs(text, f);
  fclose(f);
  host().file_written(path, text);
  return 0;
}
