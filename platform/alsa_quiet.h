// ALSA's library prints its errors to stderr ("ALSA lib pcm.c:... Unknown PCM default", eight
// lines when no card or server is there) whenever SDL tries its ALSA driver. The program reports
// a missing output itself, so those lines are only noise: QuietAlsaErrors gives the library an
// error handler that drops them, before SDL loads it (the same library, loaded once per process).
// Nothing happens where ALSA's library is not installed.
//
// Called from the thread that opens an output; safe to call again.
#pragma once

void QuietAlsaErrors();
