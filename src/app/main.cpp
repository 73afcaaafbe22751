#include "app/RevareRiDev.h"

// Qt's D-Bus connection keeps a buffer to the end of the process; a sanitizer build must not call it a leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    return rszorvik::RevareRiDev::main(argc, argv);
}
