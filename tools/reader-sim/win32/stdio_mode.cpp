// The Windows C library turns "\n" into "\r\n" on a text-mode stdout; relayed data must not change.
#include "stdio_mode.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace readersim {

void UseBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace readersim
