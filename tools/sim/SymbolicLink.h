#pragma once
// A symbolic link to the simulated device (--link, --as-port), removed when
// the simulator ends; a link that it took the place of is put back then.
#include <string>

class SymbolicLink {
 public:
  SymbolicLink() = default;
  ~SymbolicLink() { Remove(); }
  SymbolicLink(const SymbolicLink&) = delete;
  SymbolicLink& operator=(const SymbolicLink&) = delete;

  // Takes the place of a symbolic link, never of any other file; false with
  // the reason.
  bool Create(const std::string& linkPath, const std::string& target, std::string& error);
  // Removes the link and puts back the one it replaced, unless someone has
  // pointed it elsewhere meanwhile.
  void Remove();

 private:
  std::string linkPath_;
  std::string target_;
  // What a replaced link pointed to: COM3 -> /dev/ttyUSB0 in the user's own
  // port map must outlive a simulator borrowing COM3.
  std::string previous_;
};

// COM<n> in the per-user port map folder, which is created when missing.
std::string PortMapLinkPath(int portNumber, std::string& error);
