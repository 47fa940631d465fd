// Replacing a file as a whole: the text goes into a temporary file beside it,
// which is renamed over it only once it is completely written, so that a
// power cut, a full file system or a failed write never leaves a reader half
// a file.
#pragma once

// 0 when `path` now holds exactly `text`; -1 when it could not be written
// (path keeps its old content, and the temporary file "<path>.tmp" is gone).
int replace_file_text(const char* path, const char* text);
