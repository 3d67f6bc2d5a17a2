// Relayed bytes go to stdout unchanged: no newline translation where the C library does it.
#pragma once

namespace readersim {

void UseBinaryStdout();

}  // namespace readersim
