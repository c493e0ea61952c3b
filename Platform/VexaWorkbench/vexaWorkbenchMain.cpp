#include "vexaWorkbenchApplication.h"

int main(int argc, char **argv) { return vexa::WorkbenchMain(argc, argv); }
