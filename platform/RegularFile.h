#pragma once

#include <cstdio>
#include <string>

// Opening a file that a user or the environment names, without ever waiting on it. Opening a
// FIFO for reading blocks until another program opens its other end, and a device such as
// /dev/zero never ends: a batch run must refuse both rather than hang. Only regular files (or
// links to them) are opened.

enum class FileOpenResult {
  Opened,
  // Nothing there: the file, or a folder on its path, does not exist, or a folder on the path
  // is a file.
  Missing,
  // A FIFO, device, socket or folder.
  NotRegular,
  // The system refused the open (permissions, too many open files, …).
  Failed,
};

// Opens path for reading when it names a regular file. The kind is checked with stat before the
// open and again on the open descriptor; the open itself does not wait (O_NONBLOCK), so a FIFO
// put in the file's place between the two is refused too. On Opened, *fd is a blocking
// descriptor that the caller closes. Otherwise *why (when given) says what was found, e.g. "it is
// a FIFO, not a regular file", or gives the system's reason.
FileOpenResult OpenRegularFile(const std::string& path, int* fd, std::string* why);

// The same as a stdio stream for binary reading; null with *why set when the file cannot be
// opened or is not a regular file.
std::FILE* OpenRegularFileForReading(const std::string& path, std::string* why);
