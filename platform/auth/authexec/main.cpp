// Placeholder until the trampoline lands: refuses every launch.
#include <unistd.h>

int main() { return 1; }
