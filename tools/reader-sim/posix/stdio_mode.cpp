// POSIX stdout carries bytes as they are: nothing to switch.
#include "stdio_mode.h"

namespace readersim {

void UseBinaryStdout() {}

}  // namespace readersim
