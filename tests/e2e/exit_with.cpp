// Exits with the code given as its argument: lets the tests learn how the
// command processor reports a program's exit code.
#include <cstdlib>

int main(int argc, char** argv) { return argc > 1 ? std::atoi(argv[1]) : 0; }
