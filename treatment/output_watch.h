// OutputWatch: keeps a treatment step's sound going when the sound output goes away under it (a
// sound server restarted or killed, a device unplugged, the stream killed from a mixer). While on,
// from the start of a step's sound to the step's end, it looks at the audio output every 200 ms:
//
//   lost     the device went away (AudioOutputLost), or the stream stopped being taken: no device
//            buffer asked for in 400 ms once it had been playing, or none within 3 s of opening
//            (a sound server may take up to 2 s to start a new stream). So a loss is noticed
//            within 200 ms, or within 600 ms when only the buffers tell.
//   reopen   at once, and again at every look until the stream is taken again (Resumed); the
//            tone simply continues, since the stream procedure keeps its phases across devices.
//            The open runs on the output thread, so a server that does not answer (frozen,
//            overloaded) holds only that thread: the watch looks every 50 ms while it waits,
//            and takes the device over as soon as the server answers.
//   give up  when it is not back 10 s after the loss: GaveUp with the code of the last failed
//            reopen (AUDIO_ERROR_DRIVER when a reopened device would not take sound,
//            AUDIO_ERROR_TIMEOUT when the open has not finished). The output is left as it is;
//            the run releases it.
//
// State: whether the output is open, whether its stream has been taken since it was opened, and
// while recovering, since when. Window thread only, like every call to the audio output layer.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>

class OutputWatch : public QObject {
  Q_OBJECT

 public:
  explicit OutputWatch(QObject* parent = nullptr);

  // The step's stream has just started playing.
  void Start();
  void Stop();

 signals:
  void Lost();
  void Resumed();
  void GaveUp(int code);

 private:
  using Clock = std::chrono::steady_clock;

  void Look();
  void Reopen(Clock::time_point now);
  void Opened(Clock::time_point now);

  QTimer look_;
  bool open_ = false;
  bool taken_ = false;
  uint64_t buffers_ = 0;
  Clock::time_point opened_at_;
  Clock::time_point progress_at_;  // when the buffer count last grew
  bool recovering_ = false;
  bool attempt_finished_ = false;  // since the loss
  Clock::time_point lost_at_;
  int code_ = 0;
};
