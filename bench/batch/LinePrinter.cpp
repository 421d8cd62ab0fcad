// Prints N short numbered lines to standard output as fast as stdio allows, then exits 0.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    for (long i = 0; i < count; ++i) {
        std::printf("line %07ld\n", i);
    }
    return 0;
}
