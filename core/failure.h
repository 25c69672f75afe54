#pragma once

#include <exception>
#include <string>

// The program's one error type. It has a single case, `invalid`, carrying a short sentence.
// Callers in the window and the backend show a fixed text of their own; only the command line
// prints the textual form, which is also what `what()` returns: invalid("message").
class Failure : public std::exception {
 public:
  static Failure invalid(std::string message);

  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  explicit Failure(std::string message);

  std::string message_;
  std::string text_;
};
