// zelkgen: plays the treatment programs of the main window through the default sound output.
#include "application.h"
#include "tone_command.h"

int main(int argc, char** argv) {
  if (IsToneCommand(argc, argv)) return RunToneCommand(argc, argv);
  return RunZelkgen(argc, argv);
}
