#include "app/huge_pages.h"
#include "app/program.h"

int main(int argc, char** argv) {
  cadport::RestartWithHugePageHeap(argv);
  cadport::WidenHeapSteps();
  return cadport::RunProgram(argc, argv);
}
