#pragma once
// Failures that a caller must tell apart. Everything else is a plain std::runtime_error.

#include <stdexcept>
#include <string>

namespace tovalink {

// A statement failed, or the connection did; what() is the database library's own text.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A column read as a number or a date held NULL or a value that does not convert.
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The serial port could not be opened, or is no longer usable.
class PortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tovalink
