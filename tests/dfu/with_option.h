// Simulated-device or reader options that differ from the defaults in one field, for tables.
#pragma once

namespace dfutest {

template <typename Options, typename Field, typename Value>
Options With(Field Options::*field, Value value) {
  Options options;
  options.*field = static_cast<Field>(value);
  return options;
}

}  // namespace dfutest
