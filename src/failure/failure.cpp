#include "failure/failure.hpp"

#include <execinfo.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ordavine {
namespace {

// The environment variable that asks for a native backtrace in the report.
constexpr const char* kBacktraceVariable = "ORDAVINE_BACKTRACE";

std::atomic<bool> hint_shown{false};

// The main thread is "main"; another thread reports its own name when it set
// one, and "<unnamed>" when it only inherited the process name.
std::string current_thread_name() {
  if (static_cast<pid_t>(syscall(SYS_gettid)) == getpid()) return "main";
  char name[64] = {};
  char process_name[64] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
    return "<unnamed>";
  }
  FILE* comm = std::fopen("/proc/self/comm", "r");
  if (comm != nullptr) {
    if (std::fgets(process_name, sizeof process_name, comm) != nullptr) {
      process_name[std::strcspn(process_name, "\n")] = '\0';
    }
    std::fclose(comm);
  }
  if (std::strcmp(name, process_name) == 0) return "<unnamed>";
  return name;
}

// Source paths are shown from the project's `src/` folder on, so reports do
// not depend on where the package was built.
std::string_view short_path(std::string_view path) {
  const auto at = path.rfind("/src/");
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

bool backtrace_requested() {
  const char* value = std::getenv(kBacktraceVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

void report_failure(const std::string& message, std::source_location where) {
  const std::string thread = current_thread_name();
  const std::string_view file = short_path(where.file_name());
  std::fprintf(stderr, "ordavine: internal failure in thread '%s' at %.*s:%u:%u:\n%s\n", thread.c_str(),
               static_cast<int>(file.size()), file.data(), static_cast<unsigned>(where.line()),
               static_cast<unsigned>(where.column()), message.c_str());
  if (backtrace_requested()) {
    void* frames[64];
    const int depth = backtrace(frames, 64);
    std::fputs("native backtrace:\n", stderr);
    std::fflush(stderr);
    backtrace_symbols_fd(frames, depth, fileno(stderr));
  } else if (!hint_shown.exchange(true)) {
    std::fprintf(stderr, "note: set the environment variable %s=1 to add a native backtrace\n",
                 kBacktraceVariable);
  }
  std::fflush(stderr);
}

void fail(std::string message, std::source_location where) {
  report_failure(message, where);
  throw Failure(std::move(message));
}

void resume_failure(std::string message) { throw Failure(std::move(message)); }

void fail_index(std::size_t len, std::size_t index, std::source_location where) {
  fail(
      "index out of bounds: the len is " + std::to_string(len) + " but the index is " + std::to_string(index),
      where);
}

void fail_capacity(std::source_location where) { fail("capacity overflow", where); }

}  // namespace ordavine
