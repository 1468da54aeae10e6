// The files the compiled samplers write: opened from a path argument (a
// str, bytes or os.PathLike), refused as OSError naming the path, and
// removed again unless the write that made them finished.
#pragma once

#include <cstdio>

#include "binding/py_ref.hpp"
#include "shot_data/byte_sink.hpp"
#include "shot_data/io_error.hpp"

namespace ordavine::binding {

class ShotFile {
 public:
  // Opens (creates or truncates) the file at `path` for writing; OSError
  // with the path when the system refuses.  `parameter` names the argument
  // in a TypeError for a path that is neither str, bytes nor os.PathLike.
  ShotFile(PyObject* path, const char* parameter);
  // Closes the file, and removes it unless kept (a regular file only).
  ~ShotFile();
  ShotFile(const ShotFile&) = delete;
  ShotFile& operator=(const ShotFile&) = delete;

  shot_data::ByteSink& sink() { return sink_; }
  // Whether a write to this file is what failed.
  bool failed() const { return sink_.failed; }
  // Closes the file and keeps it; OSError with the path when closing fails.
  void keep();
  // Raises `error` (a refused write to this file) as OSError with the path.
  [[noreturn]] void raise_write_error(const shot_data::IoError& error) const;

 private:
  // The file's sink, which notes that a write to it failed.
  struct NotingSink final : shot_data::ByteSink {
    explicit NotingSink(std::FILE* file) : inner(file) {}
    void write(std::span<const std::uint8_t> bytes) override;
    void flush() override;
    shot_data::FileSink inner;
    bool failed = false;
  };

  PyRef shown_;  // the path as given, for errors
  PyRef path_;   // the path as the file system takes it (bytes)
  std::FILE* file_ = nullptr;
  NotingSink sink_;
  bool regular_ = false;  // a regular file, removed when not kept
  bool kept_ = false;
};

}  // namespace ordavine::binding
