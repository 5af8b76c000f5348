#include "app.h"

int main(int argc, char** argv) { return lumbra::kit::run(argc, argv); }
