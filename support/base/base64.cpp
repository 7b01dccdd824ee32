#include "support/base/base64.hpp"

#include <array>
#include <cstdint>

#include "support/base/errors.hpp"

namespace tovik {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decoding_table() {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return t;
}

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

std::string base64_encode(std::string_view bytes) {
  std::string out;
  out.reserve(4 * ((bytes.size() + 2) / 3));
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string base64_decode(std::string_view text) {
  static constexpr auto kTable = decoding_table();
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int have = 0, padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (is_space(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const std::int8_t v = kTable[static_cast<unsigned char>(c)];
    if (v < 0) throw ValueError("Base64 文本中有无效字符，位置 " + std::to_string(i));
    if (padding) throw ValueError("Base64 文本的填充 = 之后还有字符，位置 " + std::to_string(i));
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    if (++have == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>((bits >> 8) & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      have = 0;
    }
  }
  // what is left: 2 or 3 characters (1 or 2 bytes), padded or not; 1 character is no byte
  if (have == 1 || padding > 2 || (padding && have + padding != 4))
    throw ValueError("Base64 文本的长度不完整");
  if (have == 2) out += static_cast<char>(bits >> 4);
  if (have == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>((bits >> 2) & 0xFF);
  }
  return out;
}

}  // namespace tovik
