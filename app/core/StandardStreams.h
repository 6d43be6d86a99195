#pragma once
// Descriptors 0, 1 and 2 are open before anything else is: a program started
// with one of them closed would get it for the next file it opens (a serial
// line, a log) and then write its messages into that file.
#include <fcntl.h>
#include <unistd.h>

inline void OpenStandardStreams() {
  int fd = -1;
  do {
    fd = ::open("/dev/null", O_RDWR);
  } while (fd >= 0 && fd <= STDERR_FILENO);
  if (fd > STDERR_FILENO) ::close(fd);
}
