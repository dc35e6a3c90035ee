#include "app/program.h"

int main(int argc, char** argv) { return cadport::RunProgram(argc, argv); }
