// Commits the fault its argument names, for the check that every sanitizer report of the
// sanitizer build ends a run with the one status the suite tells from a failure (86).
// Built only by that build.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* fault = argc > 1 ? argv[1] : "";
    if (std::strcmp(fault, "signed-overflow") == 0) {
        volatile int most = INT_MAX;
        const int sum = most + argc; // undefined: INT_MAX + 2
        return sum == 0 ? 0 : 3;
    }
    if (std::strcmp(fault, "heap-overflow") == 0) {
        char* p = static_cast<char*>(std::malloc(8));
        volatile int at = 8 + argc - 2;
        p[at] = 1; // one byte past the block
        std::free(p);
        return 3;
    }
    if (std::strcmp(fault, "leak") == 0) {
        void* volatile p = std::malloc(64);
        p = nullptr;
        return 0;
    }
    if (std::strcmp(fault, "none") == 0)
        return 0;
    std::fprintf(stderr, "usage: sanitizer_probe signed-overflow|heap-overflow|leak|none\n");
    return 2;
}
