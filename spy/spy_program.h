#pragma once
// The spy tool program: the single-instance check and the run of its main
// window. The command line is not interpreted.

// The whole program; its exit code: 1 after a normal end and for a second
// instance, 0 when the window could not be created.
int runSpy(int argc, char** argv);
