#pragma once
// Ctrl-C, SIGTERM and SIGHUP become readable on a descriptor instead of
// ending the program at once, so that a serial port is closed (its lock and
// exclusive mode released) and a board cut short is reported first.
// Called before any thread starts: a thread that has them unblocked (the
// window's display connection runs one) would take them and die with them.
#include <signal.h>
#include <sys/signalfd.h>

// The descriptor, or -1 with the signals left as they were.
inline int OpenStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  const int fd = signalfd(-1, &stops, SFD_CLOEXEC);
  if (fd < 0) pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  return fd;
}
