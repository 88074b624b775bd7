#include "spy/spy_program.h"

int main(int argc, char** argv) { return runSpy(argc, argv); }
