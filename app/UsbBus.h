// The USB side of the machine the program runs on: the kernel stand-in with its USB/IP
// bus, configured from section [Usb] of the initialization file, up for the program's life.
#pragma once

class KernelSession {
 public:
  // Starts the kernel stand-in; a malformed [Usb] entry is told once on standard error and
  // its default used instead.
  KernelSession();
  ~KernelSession();  // every kernel thread is joined
  KernelSession(const KernelSession&) = delete;
  KernelSession& operator=(const KernelSession&) = delete;
};
