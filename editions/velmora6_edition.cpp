#include "editions/velmora6_edition.h"

#include "media/open_close.h"
#include "media/transport.h"

namespace editions {

Handlers velmora6_handlers() {
  Handlers handlers;
  handlers.play = media::Command1_Click;
  handlers.exit_button = media::Cmd_End_Click;
  return handlers;
}

}  // namespace editions
