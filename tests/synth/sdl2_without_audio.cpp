// A stand-in libSDL2-2.0.so.0 for tests: it has the first function the loader asks for and none
// of the others, so loading succeeds and the table stays incomplete.
#include <cstdint>

extern "C" int SDL_InitSubSystem(uint32_t /*flags*/) {
  return 0;
}
