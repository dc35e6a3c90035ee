#include "app/huge_pages.h"
#include "app/program.h"

int main(int argc, char** argv) {
  cadport::RestartWithHugePageHeap(argv);
  return cadport::RunProgram(argc, argv);
}
