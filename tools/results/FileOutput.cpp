#include "results/FileOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>

namespace {

std::string reason(int code) { return code ? std::strerror(code) : "write failed"; }

// Syncs the file's data to the disk, so that a rename after a crash cannot
// leave the new name on an empty or short file.
bool syncFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int code = errno;
    *error = "cannot sync " + path + ": " + reason(code);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

}  // namespace

std::string CreateTemporaryBeside(const std::string& path, std::string* error) {
  const std::filesystem::path target(path);
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; attempt++) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(entropy()));
    const std::string name =
        (target.parent_path() / ("." + target.filename().string() + suffix)).string();
    // "x": fails when the name exists, so the file is this caller's alone.
    errno = 0;
    std::FILE* f = std::fopen(name.c_str(), "wbx");
    if (f) {
      if (std::fclose(f) == 0) return name;
      const int code = errno;
      std::remove(name.c_str());
      *error = "cannot create " + name + ": " + reason(code);
      return "";
    }
    const int code = errno;
    if (code != EEXIST) {
      *error = "cannot create a file in " +
               (target.parent_path().empty() ? std::string(".") : target.parent_path().string()) +
               ": " + reason(code);
      return "";
    }
  }
  *error = "cannot find a free temporary name beside " + path;
  return "";
}

bool CommitTemporary(const std::string& temporary, const std::string& path, std::string* error) {
  if (!syncFile(temporary, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    *error = "cannot rename " + temporary + " to " + path + ": " + reason(code);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// Writes contents to the file opened by `mode`; false with the reason.
bool writeWhole(const std::string& file, const char* mode, const std::string& what, const std::string& contents,
                std::string* error) {
  errno = 0;
  std::FILE* f = std::fopen(file.c_str(), mode);
  bool ok = f != nullptr;
  int code = errno;
  if (ok) {
    ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size() && std::fflush(f) == 0;
    code = errno;
    if (std::fclose(f) != 0 && ok) {
      ok = false;
      code = errno;
    }
  }
  if (!ok) *error = "cannot write " + what + ": " + reason(code);
  return ok;
}

bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error) {
  // A device, a pipe or a symbolic link (/dev/stdout, say) is written in
  // place: renaming a file over it would replace the name, not feed it.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    return writeWhole(path, "wb", path, contents, error);

  const std::string temporary = CreateTemporaryBeside(path, error);
  if (temporary.empty()) return false;
  if (!writeWhole(temporary, "wb", path, contents, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  return CommitTemporary(temporary, path, error);
}

bool ProbeWritableDirectory(const std::string& dir, std::string* error) {
  const std::string probe = CreateTemporaryBeside((std::filesystem::path(dir) / "write-probe").string(), error);
  if (probe.empty()) return false;
  std::error_code ec;
  std::filesystem::remove(probe, ec);
  return true;
}

bool FlushSucceeded(std::ostream& out) {
  out.flush();
  return static_cast<bool>(out);
}
