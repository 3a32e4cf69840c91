// SDL's PulseAudio driver against a server that goes away after SDL has connected but before its
// thread subscribes to the server's device events. That moment cannot be timed from outside, so
// here every subscription of the process fails as it then does: the output still opens and closes
// and the program goes on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "default_output.h"
#include "private_pulse.h"

extern "C" {

struct pa_context;
struct pa_operation;

// Exported by this test's link, so SDL calls it instead of libpulse's.
pa_operation* pa_context_subscribe(pa_context*, int, void (*)(pa_context*, int, void*), void*) {
  return nullptr;
}

}  // extern "C"

namespace {

void Silence(void*, Uint8* buffer, int length) {
  std::memset(buffer, 0, static_cast<size_t>(length));
}

TEST(PulseOperationGuard, AFailedSubscriptionOfSdlLeavesTheProgramRunning) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.StartForSdl(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
  SDL_AudioSpec wanted{};
  wanted.freq = 44100;
  wanted.format = AUDIO_S16LSB;
  wanted.channels = 2;
  wanted.samples = 1024;
  wanted.callback = Silence;
  DefaultOutput output;
  ASSERT_EQ(OpenDefaultOutput(wanted, "Subscription test", &output), OpenResult::Opened);
  EXPECT_STREQ(output.driver, "pulseaudio");
  // Stopping SDL's audio waits for the thread that subscribed, and so for its release.
  CloseDefaultOutput(&output, false);
  EXPECT_EQ(output.device, 0u);
}

}  // namespace
