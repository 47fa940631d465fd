#include "common/host.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/real_host.h"
#include "common/signals.h"

namespace {
Host* g_host = nullptr;
Host* g_default = nullptr;
}  // namespace

Host& host() {
  if (g_host) return *g_host;
  return g_default ? *g_default : real_host();
}

Host* set_host(Host* h) {
  Host* old = g_host;
  g_host = h;
  return old;
}

void set_default_host(Host* h) { g_default = h; }

bool CommandStream::next_byte(char& c) {
  if (scripted_) {
    if (text_len_ == 0) return false;
    c = *text_++;
    --text_len_;
    return true;
  }
  if (pos_ == len_) {
    if (eof_) return false;
    ssize_t got = read_command_pipe(fd_, buf_, sizeof(buf_));
    if (got <= 0) {
      eof_ = true;
      return false;
    }
    len_ = static_cast<size_t>(got);
    pos_ = 0;
  }
  c = buf_[pos_++];
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

const char* host_path(const char* path, PathText& out) { return host().path(path, out); }
FILE* host_fopen(const char* path, const char* mode) { return host().open_file(path, mode); }
int host_open(const char* path, int flags, mode_t mode) { return host().open_fd(path, flags, mode); }
int host_unlink(const char* path) { return host().remove_file(path); }
int host_access(const char* path, int mode) { return host().check_access(path, mode); }
int host_stat(const char* path, struct stat* st) { return host().stat_path(path, st); }
DIR* host_opendir(const char* path) { return host().open_dir(path); }
int host_rename(const char* from, const char* to) { return host().rename_path(from, to); }
int host_mkdir(const char* path, mode_t mode) { return host().make_dir(path, mode); }
int host_chmod(const char* path, mode_t mode) { return host().set_mode(path, mode); }

int host_write_file(const char* path, const char* text) { return host().write_file(path, text); }
