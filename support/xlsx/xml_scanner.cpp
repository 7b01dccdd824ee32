#include "support/xlsx/xml_scanner.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "support/base/utf8.hpp"
#include "support/xlsx/bad_workbook.hpp"

namespace tovik::xlsx {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;
// Enough to see a whole entity ("&#x10FFFF;"), a CR LF pair or "<![CDATA[" without refilling.
constexpr std::size_t kLookahead = 16;
// Text comes out in pieces of at most this size, so that a huge cell needs no huge buffer here;
// the reader that keeps the text decides how much it takes.
constexpr std::size_t kTextPiece = std::size_t{1} << 16;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view local_part(std::string_view qualified) {
  const std::size_t colon = qualified.rfind(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool name_char(char c) { return !is_space(c) && c != '=' && c != '"' && c != '\'' && c != '<' && c != '/'; }

// The reference starting at s[i] ('&'): appends what it stands for and moves i past it. False,
// with nothing consumed, when there is none; a lone "&" or an unknown name then stays as written.
bool decode_entity(std::string_view s, std::size_t& i, std::string& out) {
  const std::string_view window = s.substr(i + 1, std::min<std::size_t>(s.size() - i - 1, 11));
  const std::size_t semi = window.find(';');
  if (semi == std::string_view::npos) return false;
  const std::string_view ref = window.substr(0, semi);
  if (ref == "lt") out += '<';
  else if (ref == "gt") out += '>';
  else if (ref == "amp") out += '&';
  else if (ref == "quot") out += '"';
  else if (ref == "apos") out += '\'';
  else if (ref.size() > 1 && ref[0] == '#') {
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    std::uint32_t cp = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || cp == 0 || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    append_utf8(out, cp);
  } else {
    return false;
  }
  i += semi + 2;
  return true;
}

}  // namespace

std::size_t TextSource::read(char* buffer, std::size_t size) {
  const std::size_t n = std::min({size, chunk_, text_.size() - at_});
  std::memcpy(buffer, text_.data() + at_, n);
  at_ += n;
  return n;
}

XmlScanner::XmlScanner(std::string part, ByteSource& source) : part_(std::move(part)), source_(source) {}

void XmlScanner::fail(const std::string& what) const {
  throw BadWorkbook(part_ + ": XML 格式错误（第 " + std::to_string(offset()) + " 字节）: " + what);
}

void XmlScanner::refuse(const std::string& what) const {
  throw BadWorkbook(part_ + ": 第 " + std::to_string(offset()) + " 字节处" + what + "，无法读取");
}

// Makes n bytes available from pos_ on, unless the part ends first; whether they are.
bool XmlScanner::fill(std::size_t n) {
  while (size_ - pos_ < n && !eof_) {
    if (pos_ > 0) {
      std::memmove(buf_.get(), buf_.get() + pos_, size_ - pos_);
      consumed_ += pos_;
      size_ -= pos_;
      pos_ = 0;
    }
    if (capacity_ - size_ < kChunk) {
      const std::size_t capacity = std::max(2 * capacity_, size_ + kChunk);
      auto larger = std::make_unique_for_overwrite<char[]>(capacity);
      if (size_ > 0) std::memcpy(larger.get(), buf_.get(), size_);
      buf_ = std::move(larger);
      capacity_ = capacity;
    }
    const std::size_t got = source_.read(buf_.get() + size_, kChunk);
    size_ += got;
    if (got == 0) eof_ = true;
  }
  return size_ - pos_ >= n;
}

XmlScanner::Token XmlScanner::next() {
  if (close_pending_) {
    close_pending_ = false;
    open_.pop_back();
    return Token::End;
  }
  if (in_cdata_) return cdata();
  for (;;) {
    if (!fill(1)) {
      if (!open_.empty()) fail("Start-end tags mismatch");
      if (!seen_root_) fail("No document element found");
      return Token::Done;
    }
    if (buf_[pos_] != '<') return character_data();
    if (auto token = markup()) return *token;
  }
}

// At a '<': a tag, CDATA, or something skipped (nothing returned).
std::optional<XmlScanner::Token> XmlScanner::markup() {
  fill(kLookahead);
  const std::string_view r = rest();
  if (r.starts_with("</")) return end_tag();
  if (r.starts_with("<?")) {
    skip_past(2, "?>", "Error parsing document declaration/processing instruction");
    return std::nullopt;
  }
  if (r.starts_with("<!--")) {
    skip_past(4, "-->", "Error parsing comment");
    return std::nullopt;
  }
  if (r.starts_with("<![CDATA[")) {
    pos_ += 9;
    in_cdata_ = true;
    return cdata();
  }
  if (r.starts_with("<!")) {
    skip_declaration();
    return std::nullopt;
  }
  return start_tag();
}

// The index in buf_ of the '>' closing the tag at pos_, reading on as far as the tag goes.
std::size_t XmlScanner::tag_end(const char* error) {
  std::size_t scan = pos_ + 1;
  char quote = 0;
  for (;;) {
    if (scan == size_) {
      const std::size_t offset = scan - pos_;
      if (offset > kMaxTagBytes) refuse("的标签超过 " + std::to_string(kMaxTagBytes >> 20) + " MiB 的上限");
      if (!fill(offset + 1)) fail(error);
      scan = pos_ + offset;
    }
    const char c = buf_[scan];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return scan;
    } else if (c == '<') {
      fail(error);  // a '>' gone missing: stop here rather than read on to the next one
    }
    ++scan;
  }
}

XmlScanner::Token XmlScanner::start_tag() {
  const std::size_t end = tag_end("Error parsing start element tag");
  const std::size_t first = pos_ + 1;
  std::size_t stop = end;
  const bool empty = stop > first && buf_[stop - 1] == '/';
  if (empty) --stop;

  std::size_t i = first;
  while (i < stop && name_char(buf_[i])) ++i;
  if (i == first || !name_start(buf_[first]) || (i < stop && !is_space(buf_[i])))
    fail("Error parsing start element tag");
  if (i - first > kMaxNameBytes) refuse("的元素名超过 " + std::to_string(kMaxNameBytes) + " 字节的上限");
  const std::size_t name_end = i;

  attribute_count_ = 0;
  for (;;) {
    while (i < stop && is_space(buf_[i])) ++i;
    if (i == stop) break;
    const std::size_t name_from = i;
    while (i < stop && name_char(buf_[i])) ++i;
    const std::size_t name_to = i;
    while (i < stop && is_space(buf_[i])) ++i;
    if (name_to == name_from || i == stop || buf_[i] != '=') fail("Error parsing element attribute");
    ++i;
    while (i < stop && is_space(buf_[i])) ++i;
    if (i == stop || (buf_[i] != '"' && buf_[i] != '\'')) fail("Error parsing element attribute");
    const char quote = buf_[i++];
    const std::size_t value_from = i;
    while (i < stop && buf_[i] != quote && buf_[i] != '<') ++i;
    if (i == stop || buf_[i] != quote) fail("Error parsing element attribute");
    const std::size_t value_to = i++;
    if (i < stop && !is_space(buf_[i])) fail("Error parsing element attribute");

    if (attribute_count_ == attributes_.size()) attributes_.emplace_back();
    Attribute& a = attributes_[attribute_count_++];
    a.name.assign(buf_.get() + name_from, name_to - name_from);
    a.value.clear();
    const std::string_view raw = view(value_from, value_to);
    for (std::size_t k = 0; k < raw.size();) {
      const char c = raw[k];
      if (c == '&' && decode_entity(raw, k, a.value)) continue;
      if (c == '\r' && k + 1 < raw.size() && raw[k + 1] == '\n') ++k;
      a.value += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
      ++k;
    }
  }

  if (open_.size() >= kMaxXmlDepth) refuse("的元素嵌套超过 " + std::to_string(kMaxXmlDepth) + " 层的上限");
  name_.assign(buf_.get() + first, name_end - first);
  open_.push_back(name_);
  seen_root_ = true;
  pos_ = end + 1;
  close_pending_ = empty;
  return Token::Start;
}

XmlScanner::Token XmlScanner::end_tag() {
  const std::size_t end = tag_end("Error parsing end element tag");
  std::size_t stop = end;
  while (stop > pos_ + 2 && is_space(buf_[stop - 1])) --stop;
  const std::string_view name = view(pos_ + 2, stop);
  if (open_.empty() || name != open_.back()) fail("Start-end tags mismatch");
  name_.swap(open_.back());
  open_.pop_back();
  pos_ = end + 1;
  return Token::End;
}

XmlScanner::Token XmlScanner::character_data() {
  text_.clear();
  while (text_.size() < kTextPiece) {
    if (size_ - pos_ < kLookahead) fill(kLookahead);
    if (pos_ == size_) break;
    const char c = buf_[pos_];
    if (c == '<') break;
    if (c == '&') {
      const std::string_view r = rest();
      std::size_t k = 0;
      if (decode_entity(r, k, text_)) {
        pos_ += k;
      } else {
        text_ += '&';
        ++pos_;
      }
      continue;
    }
    if (c == '\r') {
      text_ += '\n';
      ++pos_;
      if (pos_ < size_ && buf_[pos_] == '\n') ++pos_;
      continue;
    }
    const std::size_t limit = std::min(size_, pos_ + (kTextPiece - text_.size()));
    std::size_t run = pos_ + 1;
    while (run < limit && buf_[run] != '<' && buf_[run] != '&' && buf_[run] != '\r') ++run;
    text_.append(buf_.get() + pos_, run - pos_);
    pos_ = run;
  }
  return Token::Text;
}

XmlScanner::Token XmlScanner::cdata() {
  text_.clear();
  for (;;) {
    fill(kLookahead);
    const std::string_view r = rest();
    const std::size_t close = r.find("]]>");
    if (close == std::string_view::npos && eof_) fail("Error parsing CDATA section");
    // Without the end in sight, the last two bytes may be its beginning: they wait for more.
    const std::size_t take = std::min(close != std::string_view::npos ? close : r.size() - 2,
                                      kTextPiece - text_.size());
    std::size_t k = 0;
    while (k < take) {
      std::size_t run = k;
      while (run < take && r[run] != '\r') ++run;
      text_.append(r.substr(k, run - k));
      k = run;
      if (k < take) {
        text_ += '\n';
        ++k;
        if (k < r.size() && r[k] == '\n') ++k;
      }
    }
    pos_ += k;
    if (k == close) {
      pos_ += 3;
      in_cdata_ = false;
      return Token::Text;
    }
    if (text_.size() >= kTextPiece) return Token::Text;
  }
}

void XmlScanner::skip_past(std::size_t opening, std::string_view terminator, const char* error) {
  pos_ += opening;
  for (;;) {
    fill(kLookahead);
    const std::string_view r = rest();
    const std::size_t at = r.find(terminator);
    if (at != std::string_view::npos) {
      pos_ += at + terminator.size();
      return;
    }
    if (eof_) fail(error);
    pos_ += r.size() - (terminator.size() - 1);
  }
}

// A document type declaration (or another "<!" form): skipped whole, an internal subset in
// brackets included. Its entity declarations are never used.
void XmlScanner::skip_declaration() {
  pos_ += 2;
  int brackets = 0;
  for (;;) {
    if (!fill(1)) fail("Error parsing document type declaration");
    const char c = buf_[pos_++];
    if (c == '[') ++brackets;
    else if (c == ']') --brackets;
    else if (c == '>' && brackets <= 0) return;
  }
}

std::string_view XmlScanner::name() const { return local_part(name_); }

std::optional<std::string_view> XmlScanner::attribute(std::string_view local) const {
  for (std::size_t i = 0; i < attribute_count_; ++i)
    if (local_part(attributes_[i].name) == local) return attributes_[i].value;
  return std::nullopt;
}

std::optional<std::string_view> XmlScanner::prefixed_attribute(std::string_view local) const {
  for (std::size_t i = 0; i < attribute_count_; ++i) {
    const std::string& n = attributes_[i].name;
    if (n.find(':') != std::string::npos && local_part(n) == local) return attributes_[i].value;
  }
  return std::nullopt;
}

}  // namespace tovik::xlsx
