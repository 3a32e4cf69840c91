// zelkgen: plays the treatment programs of the main window through the default sound output.
#include "application.h"

int main(int argc, char** argv) {
  return RunZelkgen(argc, argv);
}
