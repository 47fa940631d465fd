#include "common/testing/private_tmp.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

void make_folders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
}

}  // namespace

bool mount_private_tmp() {
  // Handles on the trees taken before the tmpfs hides them.
  std::vector<std::pair<std::string, int>> keep;
  for (const char* tree : {NODE_BINARY_DIR, NODE_SOURCE_DIR}) {
    std::string path(tree);
    if (path.rfind("/tmp/", 0) != 0) continue;
    int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    keep.emplace_back(path, fd);
  }
  bool ok = mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
  for (auto& [path, fd] : keep) {
    if (ok) {
      make_folders(path);
      std::string handle = "/proc/self/fd/" + std::to_string(fd);
      ok = mount(handle.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
    }
    close(fd);
  }
  return ok;
}
