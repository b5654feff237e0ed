// Writing result files so that a reader never sees half of one: each file is
// written under a temporary name in its own directory and renamed into place
// only once it is complete, synced and closed. A failed write (a full disk,
// a file size limit) leaves the earlier file, or none, and a message.
#ifndef TARVEX_TOOLS_RESULTS_FILEOUTPUT_H
#define TARVEX_TOOLS_RESULTS_FILEOUTPUT_H

#include <iosfwd>
#include <string>

// Replaces the file at path with contents. False (path left as it was, no
// temporary file left behind) with the reason in *error on failure. A path
// that names a device, a pipe or a symbolic link is written in place.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error);

// Creates a new empty file beside path, named ".<name of path>.<random>.tmp",
// that no one else has opened, for a program that writes the file itself.
// Its name, or "" with the reason in *error.
std::string CreateTemporaryBeside(const std::string& path, std::string* error);

// Syncs the finished temporary file and renames it onto path. On failure
// the temporary file is removed and *error says why.
bool CommitTemporary(const std::string& temporary, const std::string& path, std::string* error);

// True when files can be created in the directory dir: a probe file is
// created and removed again (so that it also holds for root, whom
// permission bits do not stop, and for read-only file systems).
bool ProbeWritableDirectory(const std::string& dir, std::string* error);

// Flushes the stream and tells whether everything written to it so far got
// out (false after a failed write, e.g. standard output on a full disk).
bool FlushSucceeded(std::ostream& out);

#endif
