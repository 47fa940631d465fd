// The host: everything the programs do to the node passes through here, so
// that tests can watch it. The device uses the real host; unit tests install
// a fake one (common/testing/fake_host.h).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

#include "common/text.h"

// The output of one running command, read line by line. Only the host that
// started the command knows where it comes from (a pipe, a scripted text).
class CommandStream {
 public:
  // fgets semantics: at most size - 1 bytes, up to and including a line end;
  // false when nothing could be read.
  bool gets(char* out, int size);

 private:
  friend class Host;
  bool next_byte(char& c);

  int fd_ = -1;            // pipe from the command
  pid_t pid_ = -1;         // the command's shell
  bool scripted_ = false;  // output comes from text_
  const char* text_ = nullptr;
  size_t text_len_ = 0;
  char buf_[512];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
};

using PathText = FixedText<512>;

int replace_file_atomically(const char* path, const char* text);

// Results of a name lookup.
struct Resolved {
  in_addr addr{};
  char official[256] = {0};
};

class Host {
 public:
  virtual ~Host() = default;

  // Shell: run a command line through /bin/sh and wait for it; the result is
  // the raw wait status, as system() gives it (-1 when it could not start).
  virtual int run(const char* command) = 0;
  // Start a command whose standard output is read through `out`. Returns 0,
  // or -1 when it could not be started.
  virtual int open_command(const char* command, CommandStream& out) = 0;
  // Wait for the command of `out` and return its wait status.
  virtual int close_command(CommandStream& out) = 0;

  // File system. The programs name the node's own paths; the device opens
  // them as they are, a test host maps them into a folder of its own.
  // (Defined here: a class whose virtuals are all inline or pure gets its
  // type information wherever it is used, also in tests built with RTTI.)
  virtual const char* path(const char* node_path, PathText& out) { return out.set(node_path).c_str(); }
  virtual FILE* open_file(const char* p, const char* mode) {
    PathText f;
    return ::fopen(path(p, f), mode);
  }
  virtual int open_fd(const char* p, int flags, mode_t mode) {
    PathText f;
    return ::open(path(p, f), flags, mode);
  }
  virtual int remove_file(const char* p) {
    PathText f;
    return ::unlink(path(p, f));
  }
  virtual int check_access(const char* p, int mode) {
    PathText f;
    return ::access(path(p, f), mode);
  }
  virtual int stat_path(const char* p, struct stat* st) {
    PathText f;
    return ::stat(path(p, f), st);
  }
  virtual DIR* open_dir(const char* p) {
    PathText f;
    return ::opendir(path(p, f));
  }
  virtual int rename_path(const char* from, const char* to) {
    PathText a;
    PathText b;
    return ::rename(path(from, a), path(to, b));
  }
  virtual int make_dir(const char* p, mode_t mode) {
    PathText f;
    return ::mkdir(path(p, f), mode);
  }
  virtual int set_mode(const char* p, mode_t mode) {
    PathText f;
    return ::chmod(path(p, f), mode);
  }
  // Replaces the content of a small file (LED triggers, /tmp/TZ...): opens
  // it for writing, writes `text` and closes it. 0, or -1 when the file
  // cannot be opened.
  virtual int write_file(const char* p, const char* text) {
    FILE* f = open_file(p, "w");
    if (!f) return -1;
    fputs(text, f);
    fclose(f);
    return 0;
  }
  // Replaces a file that other programs read whole, through a temporary
  // file renamed into place (common/atomic_file.h): 0, or -1.
  virtual int replace_file(const char* p, const char* text) { return replace_file_atomically(p, text); }

  // Time.
  virtual void sleep(unsigned seconds) = 0;
  virtual time_t now() = 0;
  virtual long uptime() = 0;  // seconds since boot

  // Processes.
  virtual int kill(pid_t pid, int sig) = 0;
  virtual pid_t fork() = 0;

  // Standard output and error, and the system log.
  virtual void out(const char* text) = 0;
  virtual void err(const char* text) = 0;
  virtual void open_log(const char* ident, int options) = 0;
  // Reconnects the log with the same identity once a daemon has closed all
  // its descriptors, so that log lines never go into a reused descriptor.
  virtual void reopen_log() {}
  virtual void log(int priority, const char* text) = 0;

  // Network: name lookup (h_errno value on failure).
  virtual int resolve(const char* name, Resolved& out) = 0;

 protected:
  // For hosts: what a stream reads from.
  static void stream_from_pipe(CommandStream& s, int fd, pid_t pid) {
    s = CommandStream();
    s.fd_ = fd;
    s.pid_ = pid;
  }
  static void stream_from_text(CommandStream& s, const char* text, size_t len) {
    s = CommandStream();
    s.scripted_ = true;
    s.text_ = text;
    s.text_len_ = len;
  }
  static bool stream_scripted(const CommandStream& s) { return s.scripted_; }
  static int stream_fd(const CommandStream& s) { return s.fd_; }
  static pid_t stream_pid(const CommandStream& s) { return s.pid_; }
  // Closes the stream's end: its pipe, or the end of its text.
  static void stream_closed(CommandStream& s) {
    s.fd_ = -1;
    s.pid_ = -1;
    s.text_ = nullptr;
    s.text_len_ = 0;
  }
};

Host& host();
// Installs `h` as the host (nullptr restores the default); returns the old
// one, nullptr when the default served.
Host* set_host(Host* h);
// The host that serves while none is installed: the real one, unless a test
// program chose another.
void set_default_host(Host* h);

// File system through the host.
const char* host_path(const char* path, PathText& out);
FILE* host_fopen(const char* path, const char* mode);
int host_open(const char* path, int flags, mode_t mode = 0);
int host_unlink(const char* path);
int host_access(const char* path, int mode);
int host_stat(const char* path, struct stat* st);
DIR* host_opendir(const char* path);
int host_rename(const char* from, const char* to);
int host_mkdir(const char* path, mode_t mode);
int host_chmod(const char* path, mode_t mode);
// Replaces the content of a small file (LED triggers, /tmp/TZ...): opens it
// for writing, writes `text` and closes it. Returns 0, or -1 when the file
// cannot be opened.
int host_write_file(const char* path, const char* text);
