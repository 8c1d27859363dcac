// The manual-advance edition: one strip per press, from the frame the clip stands on.
#include "editions/layouts.h"
#include "editions/program.h"
#include "editions/velmora3_edition.h"

int main(int argc, char** argv) {
  return editions::run_program(argc, argv, editions::velmora3_layout, editions::velmora3_handlers);
}
