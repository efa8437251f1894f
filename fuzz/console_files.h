// Shared by the fuzz targets of the consoles' files: each input is written as the file its
// reader opens, in a fresh directory of the target's own (made at the first input, removed at
// exit). A reader that takes its file from the current directory runs inside it (InScratch).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz_console {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// The scratch directory (kept until exit: the exit handler still needs its name).
inline const std::string& ScratchDirectory() {
  static const std::string* dir = [] {
    auto* made = new std::string((std::filesystem::temp_directory_path() / "vigil-fuzz-XXXXXX").string());
    Check(::mkdtemp(made->data()) != nullptr);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDirectory(), ec);
    });
    return made;
  }();
  return *dir;
}

// Writes the bytes as `name` in the scratch directory (replacing what was there); its path.
inline std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  const std::string path = ScratchDirectory() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr);
  Check(size == 0 || std::fwrite(data, 1, size, f) == size);
  Check(std::fclose(f) == 0);
  return path;
}

// Runs `read` with the scratch directory as the current directory, then returns to the one
// before (libFuzzer's own paths are relative to it).
template <typename F>
auto InScratch(F read) {
  const int back = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(back >= 0 && ::chdir(ScratchDirectory().c_str()) == 0);
  struct Return {
    int fd;
    ~Return() {
      Check(::fchdir(fd) == 0);
      ::close(fd);
    }
  } ret{back};
  return read();
}

}  // namespace fuzz_console
