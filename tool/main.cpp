#include <unistd.h>

#include "run.h"

int main(int argc, char** argv) {
  try {
    return lumbra::run(argc, argv);
  } catch (...) {
    // Set-up itself failed (no memory for the pool or the two handles).
    static const char msg[] = "lumbra: out of memory at start-up\n";
    (void)!write(2, msg, sizeof msg - 1);
    return 2;
  }
}
