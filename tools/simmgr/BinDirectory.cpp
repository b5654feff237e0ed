#include "simmgr/BinDirectory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "results/FileOutput.h"

namespace simmgr {

namespace {

const char kLockName[] = ".simmgr.lock";

}  // namespace

BinDirectory::~BinDirectory() {
  if (LockDescriptor >= 0) ::close(LockDescriptor);
}

BinDirectory::Outcome BinDirectory::Claim(const std::string& dir, const std::vector<std::string>& files,
                                          std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    *error = "cannot create the bin directory " + dir + (ec ? ": " + ec.message() : std::string());
    return kFailed;
  }
  if (!ProbeWritableDirectory(dir, error)) return kFailed;

  // Close-on-exec: the simulators must not inherit the lock, or one that
  // outlives a crashed study would keep the directory locked.
  const std::string lockPath = (std::filesystem::path(dir) / kLockName).string();
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int code = errno;
    *error = "cannot open the lock file " + lockPath + ": " + std::strerror(code);
    return kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) {
      *error = "the bin directory " + dir + " is in use by another study (it holds " + lockPath +
               "); wait for that study to end or choose another --bin-dir";
      return kInUse;
    }
    *error = "cannot lock " + lockPath + ": " + std::strerror(code);
    return kFailed;
  }
  LockDescriptor = fd;

  for (const std::string& file : files) {
    std::filesystem::remove(file, ec);
    // "x": fails when the name exists, so the file is new and ours.
    errno = 0;
    std::FILE* f = std::fopen(file.c_str(), "wbx");
    if (!f || std::fclose(f) != 0) {
      const int code = errno;
      *error = "cannot create " + file + ": " + (code ? std::strerror(code) : "failed");
      return kFailed;
    }
  }
  return kClaimed;
}

}  // namespace simmgr
