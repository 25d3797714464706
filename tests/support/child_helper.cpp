// The child of the test support's own tests:
//   child_helper exit CODE         exits with CODE
//   child_helper env NAME          prints NAME's value, or "(unset)", and exits 0
//   child_helper print OUT ERR     writes OUT to standard output and ERR to standard error
//   child_helper hang              waits until it is killed
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "env") == 0) {
        const char* value = std::getenv(argv[2]);
        std::printf("%s", value ? value : "(unset)");
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "print") == 0) {
        std::fputs(argv[2], stdout);
        std::fflush(stdout);
        std::fputs(argv[3], stderr);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "hang") == 0) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return 99;
}
