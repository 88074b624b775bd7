#include "control-panel/control_panel_program.h"

int main(int argc, char** argv) { return runControlPanel(argc, argv); }
