// THD+N of a 16-bit WAV file's first channel at a known frequency: a least-squares fit of a sine,
// a cosine and a constant over the largest whole number of periods, then the residual's RMS
// against the signal's, in dB. Usage: thd_noise FILE.wav HERTZ
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: thd_noise FILE.wav HERTZ\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const double f = std::atof(argv[2]);
  // Walks the chunks for "fmt " and "data".
  size_t at = 12;
  uint32_t rate = 0, channels = 0, bits = 0;
  size_t data = 0, data_size = 0;
  while (at + 8 <= bytes.size()) {
    const uint32_t size = Le32(bytes, at + 4);
    if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 24 <= bytes.size()) {
      channels = bytes[at + 10] | (bytes[at + 11] << 8);
      rate = Le32(bytes, at + 12);
      bits = bytes[at + 22] | (bytes[at + 23] << 8);
    } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
      data = at + 8;
      data_size = std::min<size_t>(size, bytes.size() - data);
      break;
    }
    at += 8 + size + (size & 1);
  }
  if (bits != 16 || channels == 0 || rate == 0 || data == 0 || !(f > 0)) {
    std::fprintf(stderr, "thd_noise: '%s' is not a 16-bit WAV file\n", argv[1]);
    return 1;
  }
  const size_t frames = data_size / (2 * channels);
  const auto x = [&](size_t i) {
    const size_t o = data + 2 * channels * i;
    return static_cast<double>(static_cast<int16_t>(bytes[o] | (bytes[o + 1] << 8)));
  };
  const size_t n = static_cast<size_t>(std::floor(std::floor(frames * f / rate) * rate / f));
  // Normal equations of x ~ a sin + b cos + c.
  double m[3][4] = {};
  for (size_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * f * static_cast<double>(i) / rate;
    const double v[3] = {std::sin(w), std::cos(w), 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += v[r] * v[c];
      m[r][3] += v[r] * x(i);
    }
  }
  for (int p = 0; p < 3; ++p) {
    for (int r = 0; r < 3; ++r) {
      if (r == p) continue;
      const double k = m[r][p] / m[p][p];
      for (int c = 0; c < 4; ++c) m[r][c] -= k * m[p][c];
    }
  }
  const double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
  double residual = 0, total = 0;
  for (size_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * f * static_cast<double>(i) / rate;
    const double r = x(i) - a * std::sin(w) - b * std::cos(w) - c;
    residual += r * r;
    total += x(i) * x(i);
  }
  std::printf("%.1f\n", 10.0 * std::log10(residual / total));
  return 0;
}
