// A fresh temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

class ScratchDir {
 public:
  // Creates <temp>/<prefix>XXXXXX; Created() tells whether that worked.
  explicit ScratchDir(const std::string& prefix = "zelkgen-test-");
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  bool Created() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};
