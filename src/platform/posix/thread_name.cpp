#include "platform/thread_name.h"

#include <pthread.h>

namespace platform {

void NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

}  // namespace platform
