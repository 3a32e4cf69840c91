// DDFS: the real-time direct digital frequency synthesiser behind every treatment step.
//
// Four wave tables of TableLength signed 16-bit entries (sine, square, triangle, falling
// sawtooth), built once at start-up and read-only afterwards, and sixteen phase accumulators
// (channels 1..16) that step through a table by a whole number of entries per frame.
// ToneStreamProc fills the audio output's buffers with stereo frames: left from channel 1,
// right from channel 9, which runs half a cycle ahead, so the two are in antiphase.
#pragma once

#include <atomic>
#include <cstdint>

// The design names these three; the system's own constants are written kName.
inline constexpr int TableLength = 44100;
inline constexpr uint32_t PhaseModulus = 44099;
inline constexpr long double MaxFrequency = 22000.0L;

// Table index selected by the "Output signal" choice.
enum WaveShape : uint8_t { wsSine = 0, wsSquare = 1, wsTriangle = 2, wsSawtooth = 3 };

extern int16_t SineTable[TableLength];
extern int16_t SquareTable[TableLength];
extern int16_t TriangleTable[TableLength];
extern int16_t SawtoothTable[TableLength];

// Phase[1]..Phase[16]; Phase[0] is unused so that channel numbers index directly.
extern uint32_t Phase[17];

// Per-stream settings: written on the window thread only while no stream exists.
extern long double StreamFrequency;
extern long double StreamAmplitude;

// The synthesiser's copy of the "Output signal" choice, kept current by the main window and read
// once per ToneStreamProc call. Square (1) at start-up.
extern std::atomic<WaveShape> OutputWaveShape;

// Builds the tables, keeps them in memory (mlock) and sets the accumulators; called once before
// any window exists.
void InitDDFS();

uint32_t ResetPhase(uint8_t Channel);
int32_t SetPhaseOffset(uint8_t Channel, uint8_t PairedChannel, long double Degrees);
uint32_t AdvancePhase(uint8_t Channel, long double Frequency);

// The table of a shape, for every stream procedure that plays one; nullptr for any other value,
// which plays nothing.
const int16_t* WaveTable(WaveShape shape);

int16_t SineSample(int32_t Index);
int16_t SquareSample(int32_t Index);
int16_t TriangleSample(int32_t Index);
int16_t SawtoothSample(int32_t Index);

// The stream procedure of the audio output layer's user stream (see audio_output.h).
uint32_t ToneStreamProc(uint32_t Handle, void* Buffer, uint32_t Length, void* User);
