// Replacing a file as a whole: the text goes into a temporary file beside it,
// which is renamed over it only once it is completely written, so that a
// power cut, a full file system or a failed write never leaves a reader half
// a file, and a failed write leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <cstdio>

#include "common/host.h"

// One replacement in progress: write through file(), then commit(). Going
// out of scope without a commit removes the temporary file.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile() { discard(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates "<path>.tmp" afresh: whatever had that name before (a stale
  // file, or a link planted in /tmp) is removed, never followed. The new
  // file gets the mode of the file it replaces, or `mode` (less the umask)
  // when there is none yet. False when it cannot be created.
  bool open(const char* path, mode_t mode);
  FILE* file() const { return file_; }

  // Flushes the text to the flash and renames it over the path: 0, or -1
  // when any of it could not be written (the path keeps its old content and
  // the temporary file is gone).
  int commit();
  // Removes the temporary file; the path keeps its old content.
  void discard();

 private:
  PathText path_;
  PathText temp_;
  FILE* file_ = nullptr;
};

// 0 when `path` now holds exactly `text`; -1 when it could not be written
// (path keeps its old content, and the temporary file "<path>.tmp" is gone).
int replace_file_text(const char* path, const char* text);
