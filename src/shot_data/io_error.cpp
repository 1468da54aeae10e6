#include "shot_data/io_error.hpp"

#include <cerrno>
#include <system_error>

namespace ordavine::shot_data {

// std::generic_category's message is the thread-safe form of strerror.
IoError::IoError(int error_number)
    : error_number_(error_number != 0 ? error_number : EIO),
      message_(std::error_code(error_number_, std::generic_category()).message()) {}

}  // namespace ordavine::shot_data
