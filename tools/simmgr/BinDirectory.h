// The directory where the simulators of a study write their binary result
// files (--bin-dir). A study claims it for as long as it runs, so that two
// studies never write into one directory at once: it holds an exclusive
// lock (flock) on the file .simmgr.lock there, which the system releases
// when the holder ends, however it ends. The lock file itself stays.
#ifndef TARVEX_TOOLS_SIMMGR_BINDIRECTORY_H
#define TARVEX_TOOLS_SIMMGR_BINDIRECTORY_H

#include <string>
#include <vector>

namespace simmgr {

class BinDirectory {
 public:
  enum Outcome { kClaimed, kInUse, kFailed };

  BinDirectory() = default;
  // Releases the lock.
  ~BinDirectory();
  BinDirectory(const BinDirectory&) = delete;
  BinDirectory& operator=(const BinDirectory&) = delete;

  // Creates dir when missing, checks that files can be created in it and
  // takes its lock (kInUse when another study holds it). Then each of files
  // is replaced by a new empty file created exclusively: a simulator of an
  // earlier study that still writes under that name keeps its own file.
  // *error says why on kInUse and kFailed.
  Outcome Claim(const std::string& dir, const std::vector<std::string>& files, std::string* error);

 private:
  int LockDescriptor = -1;
};

}  // namespace simmgr

#endif
