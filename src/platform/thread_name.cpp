#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>

void NameThisThread(const char* name) {
    char shortName[16] = {};
    std::strncpy(shortName, name, sizeof shortName - 1);
    pthread_setname_np(pthread_self(), shortName);
}
