#pragma once

#include <string>

namespace platform {

// The system's folder for temporary files: $TMPDIR when set and not empty, else "/tmp".
std::string temporaryDirectory();

// A fresh path in the temporary folder, unique to this call (a random UUID as the name). Nothing
// is created.
std::string makeTemporaryPath();

// Creates a new, empty file at a fresh temporary path for writing only (permissions 0600: no other
// user reads it; close-on-exec, never an existing file or link). Answers the descriptor and sets
// `pathOut`; -1 with errno set when it fails.
int createTemporaryFile(std::string& pathOut);
// The same in the given folder (the system's temporary folder when it is empty).
int createTemporaryFile(std::string& pathOut, const std::string& folder);
// The same in an open folder, created through its descriptor; sets `nameOut` to the name there.
int createTemporaryFileAt(int folder, std::string& nameOut);

// The permissions a file made as the user's own gets: 0644 less the process's umask (read once,
// from /proc/self/status; 022 when it cannot be read). A private temporary file takes them when it
// becomes a file of the user's.
unsigned publishedFileMode();

} // namespace platform
