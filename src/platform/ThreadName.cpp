#include "platform/ThreadName.h"

#include <pthread.h>

#include <cstring>

namespace vandora {

void nameThisThread(const char* name) {
    // The kernel keeps 15 characters and the ending 0; a longer name would be refused whole.
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    pthread_setname_np(pthread_self(), cut);
}

}  // namespace vandora
