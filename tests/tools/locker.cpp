// Takes the data-directory lock in DIR and reports the result on stdout.
// With "hold" it then keeps the lock until stdin closes or it is killed.
//   locker DIR [hold]
#include "platform/fsys.h"
#include "store/torvakit.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || !platform::changeDirectory(argv[1])) return 2;
    int result = torvakit::ApplicationLock("FILE.LOK");
    std::printf("%d\n", result);
    std::fflush(stdout);
    if (argc > 2 && std::strcmp(argv[2], "hold") == 0 && result == 0) {
        char c;
        while (read(0, &c, 1) > 0) {
        }
    }
    return 0;
}
