// The name a thread shows in /proc/<pid>/task/*/comm, top and debuggers, so that the switches and
// the time of each of the service's threads can be told apart. At most 15 characters are kept.
#pragma once

namespace vandora {

// Names the calling thread.
void nameThisThread(const char* name);

}  // namespace vandora
