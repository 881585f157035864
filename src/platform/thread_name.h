#pragma once

// Names the calling thread as the system shows it (top, a debugger, /proc/<pid>/task), so
// a thread's share of the program's CPU can be told apart. Longer names are cut to 15 bytes.
void NameThisThread(const char* name);
