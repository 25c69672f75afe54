#include "core/failure.h"

#include <utility>

Failure::Failure(std::string message)
    : message_(std::move(message)), text_("invalid(\"" + message_ + "\")") {}

Failure Failure::invalid(std::string message) {
  return Failure(std::move(message));
}
