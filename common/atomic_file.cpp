#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

bool AtomicFile::open(const char* path, mode_t mode) {
  discard();
  if (strlen(path) + 4 >= PathText::capacity()) return false;
  path_.set(path);
  temp_.format("%s.tmp", path);
  host_unlink(temp_);
  int fd = host_open(temp_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The replacement keeps the mode of the file it replaces, whatever the umask.
  struct stat st;
  if (host_stat(path, &st) == 0) fchmod(fd, st.st_mode & 07777);
  file_ = fdopen(fd, "w");
  if (!file_) {
    close(fd);
    host_unlink(temp_);
    return false;
  }
  return true;
}

int AtomicFile::commit() {
  if (!file_) return -1;
  // A full file system shows only when the buffer goes out, so every step counts.
  bool ok = fflush(file_) == 0 && !ferror(file_);
  ok = fsync(fileno(file_)) == 0 && ok;
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (ok) ok = host_rename(temp_, path_) == 0;
  if (!ok) {
    host_unlink(temp_);
    return -1;
  }
  return 0;
}

void AtomicFile::discard() {
  if (!file_) return;
  fclose(file_);
  file_ = nullptr;
  host_unlink(temp_);
}

int replace_file_atomically(const char* path, const char* text) {
  AtomicFile out;
  if (!out.open(path, 0666)) return -1;
  size_t len = strlen(text);
  if (fwrite(text, 1, len, out.file()) != len) return -1;
  return out.commit();
}

int replace_file_text(const char* path, const char* text) { return host().replace_file(path, text); }
