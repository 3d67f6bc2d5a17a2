// The program's private world in a temporary folder: a device folder, a fake sysfs tree that
// lists one reader as ttyACM0, the runtime, configuration and temporary folders, and the
// environment variables that point the program there. Linux.
#pragma once

#include <string>

namespace replug {

class Sandbox {
 public:
  Sandbox() = default;
  ~Sandbox() { Remove(); }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Makes the folders and settings (the log on or off) and sets this process's environment,
  // which the program inherits. False with *why on failure.
  bool Create(bool log, std::string* why);
  // Removes the whole folder (also called by the destructor).
  void Remove();

  const std::string& Base() const { return base_; }
  std::string ReaderNode() const { return base_ + "/dev/ttyACM0"; }
  std::string ProgramOutput() const { return base_ + "/program.out"; }
  // Where the program writes its log when it is on.
  std::string LogFile() const;

 private:
  std::string base_;
};

}  // namespace replug
