#include "generator_link.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QTcpSocket>
#include <cerrno>
#include <cstring>

namespace {

// Takes one line off the front of buffer, if there is a whole one.
bool TakeLine(QByteArray* buffer, std::string* line) {
  const qsizetype end = buffer->indexOf('\n');
  if (end < 0) return false;
  QByteArray taken = buffer->left(end);
  buffer->remove(0, end + 1);
  if (taken.endsWith('\r')) taken.chop(1);
  *line = taken.toStdString();
  return true;
}

// A QIODevice-based link: serial or TCP.
template <typename Device>
class QtLink : public GeneratorLink {
 public:
  bool IsOpen() const override { return device_.isOpen() && !broken_; }

  void Close() override {
    if (device_.isOpen()) device_.close();
    buffer_.clear();
    broken_ = false;
  }

  bool Write(const std::string& bytes, int timeout_ms, std::string* error) override {
    if (!IsOpen()) return Broke("not open", error);
    if (device_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
      return Broke(device_.errorString().toStdString(), error);
    }
    QDeadlineTimer deadline(timeout_ms);
    while (device_.bytesToWrite() > 0) {
      if (!device_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        if (Gone()) return Broke(device_.errorString().toStdString(), error);
        if (deadline.hasExpired()) {
          *error = "the link took no bytes for " + std::to_string(timeout_ms) + " ms";
          return false;
        }
      }
    }
    return true;
  }

  Read ReadLine(int timeout_ms, std::string* line, std::string* error) override {
    QDeadlineTimer deadline(timeout_ms);
    for (;;) {
      buffer_ += device_.readAll();
      if (TakeLine(&buffer_, line)) return Read::Line;
      if (!IsOpen() || Gone()) {
        Broke(device_.errorString().toStdString(), error);
        return Read::Broken;
      }
      if (deadline.hasExpired()) return Read::Timeout;
      if (!device_.waitForReadyRead(static_cast<int>(deadline.remainingTime())) && Gone()) {
        Broke(device_.errorString().toStdString(), error);
        return Read::Broken;
      }
    }
  }

  void DiscardInput() override {
    device_.readAll();
    buffer_.clear();
  }

 protected:
  virtual bool Gone() = 0;

  bool Broke(const std::string& why, std::string* error) {
    broken_ = true;
    *error = why;
    return false;
  }

  Device device_;
  QByteArray buffer_;
  bool broken_ = false;
};

class SerialLink : public QtLink<QSerialPort> {
 public:
  explicit SerialLink(std::string path) : path_(std::move(path)) {}

  bool Open(std::string* error) override {
    Close();
    device_.setPortName(QString::fromLocal8Bit(path_.c_str()));
    device_.setBaudRate(QSerialPort::Baud115200);
    device_.setDataBits(QSerialPort::Data8);
    device_.setParity(QSerialPort::NoParity);
    device_.setStopBits(QSerialPort::OneStop);
    device_.setFlowControl(QSerialPort::NoFlowControl);
    if (!device_.open(QIODevice::ReadWrite)) {
      *error = path_ + ": " + device_.errorString().toStdString();
      return false;
    }
    return true;
  }

 private:
  bool Gone() override {
    const QSerialPort::SerialPortError code = device_.error();
    return code == QSerialPort::ResourceError || code == QSerialPort::DeviceNotFoundError ||
           code == QSerialPort::PermissionError;
  }

  std::string path_;
};

class TcpLink : public QtLink<QTcpSocket> {
 public:
  TcpLink(std::string host, int port) : host_(std::move(host)), port_(port) {}

  bool Open(std::string* error) override {
    Close();
    device_.connectToHost(QString::fromStdString(host_), static_cast<quint16>(port_));
    if (!device_.waitForConnected(kConnectMs)) {
      *error = host_ + ":" + std::to_string(port_) + ": " + device_.errorString().toStdString();
      device_.abort();
      return false;
    }
    // A command and the query after it are small writes: without this, the second waits for
    // the first's delayed acknowledgement, some 40 ms a setting.
    device_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
  }

 private:
  // A LAN instrument answers a connection at once; an address that does not is not one.
  static constexpr int kConnectMs = 3000;

  bool Gone() override { return device_.state() != QAbstractSocket::ConnectedState; }

  std::string host_;
  int port_;
};

// /dev/usbtmcN: each write is one message and each read returns one reply, bounded by the
// driver's own timeout, which is set to the caller's.
class UsbtmcLink : public GeneratorLink {
 public:
  explicit UsbtmcLink(std::string path) : path_(std::move(path)) {}
  ~UsbtmcLink() override { Close(); }

  bool Open(std::string* error) override {
    Close();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
      *error = path_ + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
  }
  bool IsOpen() const override { return fd_ >= 0; }

  bool Write(const std::string& bytes, int timeout_ms, std::string* error) override {
    if (fd_ < 0) return Fail("not open", error);
    SetTimeout(timeout_ms);
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return Fail(std::strerror(errno), error);
    }
    return true;
  }

  Read ReadLine(int timeout_ms, std::string* line, std::string* error) override {
    if (fd_ < 0) return Fail("not open", error), Read::Broken;
    QByteArray buffer = pending_;
    pending_.clear();
    if (TakeLine(&buffer, line)) return pending_ = buffer, Read::Line;
    SetTimeout(timeout_ms);
    char chunk[4096];
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == ETIMEDOUT) return pending_ = buffer, Read::Timeout;
    if (got <= 0) return Fail(got < 0 ? std::strerror(errno) : "closed", error), Read::Broken;
    buffer.append(chunk, got);
    // A USBTMC reply is one message, its line end optional.
    if (!buffer.endsWith('\n')) buffer.append('\n');
    TakeLine(&buffer, line);
    pending_ = buffer;
    return Read::Line;
  }

  void DiscardInput() override { pending_.clear(); }

 private:
  void SetTimeout(int timeout_ms) {
    unsigned int value = static_cast<unsigned int>(timeout_ms < 1 ? 1 : timeout_ms);
    ::ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &value);
  }
  bool Fail(const std::string& why, std::string* error) {
    *error = why;
    Close();
    return false;
  }

  std::string path_;
  int fd_ = -1;
  QByteArray pending_;
};

}  // namespace

std::unique_ptr<GeneratorLink> MakeGeneratorLink(const DeviceName& name) {
  if (name.Family == GeneratorFamily::Scpi) {
    if (!name.Path.empty()) return std::make_unique<UsbtmcLink>(name.Path);
    return std::make_unique<TcpLink>(name.Host, name.Port);
  }
  return std::make_unique<SerialLink>(name.Path);
}
