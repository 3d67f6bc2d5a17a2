// Starting a thread with a result instead of an exception. Portable: built on <thread>.
// std::thread throws std::system_error when the system cannot create a thread (out of threads,
// memory or address space); no exception may leave a subsystem, so every thread the core starts
// goes through StartThread.
#pragma once

#include <functional>
#include <thread>

namespace platform {

// Starts `body` on a new thread kept in *thread, which must not be joinable. Any thread may
// call; it blocks only while the system creates the thread. False when the system refused:
// *thread is left as it was and `body` never runs.
bool StartThread(std::thread* thread, std::function<void()> body);

// Tests: the next `count` calls of StartThread fail as a refusing system makes std::thread fail
// (a thrown std::system_error); 0 ends that. Call while no other thread starts threads.
void FailThreadStartsForTesting(int count);

}  // namespace platform
