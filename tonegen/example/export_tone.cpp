// Writes a 330 Hz triangle of 250 ms with a square a fifth above it (extra tone 2, 30 percent,
// 1.5 times the frequency), in stereo at 44100 frames per second, shaped by the envelope, to the
// WAV file named on the command line: the same file as
//   zelkgen tone --frequency 330 --duration 250 --waveform triangle --am 2,30,square,1.5
//                --stereo --quality low --envelope --export FILE.wav
//
// Built with pkg-config:
//   c++ -std=c++17 export_tone.cpp $(pkg-config --cflags --libs zelkgen-tonegen)
// or with CMake, find_package(ZelkgenToneGen) and the target Zelkgen::ToneGen (CMakeLists.txt).
#include <zelkgen/tonegen/tone_gen.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.wav\n", argv[0]);
    return 2;
  }
  TToneGen gen(nullptr);  // no owner: the caller owns it
  gen.SetFrequency(330);
  gen.SetDuration(250);
  gen.SetWaveform(tgTriangle);
  gen.SetAMParameter(tgAMLevel2, 30, 1.5f, tgSquare);
  gen.SetStereo(true);
  gen.SetQuality(tgLoQ);
  // PrepareADSR renders with the envelope (Attack, Hold, Decay, Sustain, Release: the defaults
  // here); Prepare would render the plain tone. ExportFile writes the image as it stands.
  if (!gen.PrepareADSR()) {
    std::fprintf(stderr, "not enough memory for the tone\n");
    return 1;
  }
  if (!gen.ExportFile(argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
