// The auto-advance edition: strips follow one another by themselves.
#include "editions/layouts.h"
#include "editions/program.h"
#include "editions/velmora6_edition.h"

int main(int argc, char** argv) {
  return editions::run_program(argc, argv, editions::velmora6_layout, editions::velmora6_handlers);
}
