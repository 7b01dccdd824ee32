#include "support/regex/regex.hpp"

#include <cstdint>
#include <new>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "support/base/errors.hpp"

namespace tovik {

struct Regex::Compiled {
  explicit Compiled(pcre2_code* c) : code(c) {}
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() { pcre2_code_free(code); }

  pcre2_code* code;
};

namespace {

std::string pcre2_message(int error_code) {
  PCRE2_UCHAR buffer[256];
  const int n = pcre2_get_error_message(error_code, buffer, sizeof buffer);
  if (n < 0) return "PCRE2 error " + std::to_string(error_code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Users count characters, PCRE2 counts bytes.
std::size_t char_position(std::string_view text, std::size_t byte_offset) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < byte_offset && i < text.size(); ++i) {
    if (!is_continuation_byte(text[i])) ++chars;
  }
  return chars;
}

// PCRE2 wants a non-null pointer even for an empty subject or pattern.
PCRE2_SPTR code_units(std::string_view s) {
  static const char empty[] = "";
  return reinterpret_cast<PCRE2_SPTR>(s.data() != nullptr ? s.data() : empty);
}

struct MatchDataFree {
  void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};

// Runs one pattern over one subject, possibly many times. The subject's UTF-8 is checked on the
// first run only: later runs start at offsets taken from earlier matches, which are character
// boundaries of an already checked subject, so PCRE2 may skip the costly recheck.
class Matcher {
 public:
  Matcher(const pcre2_code* code, const std::string& pattern, std::string_view subject)
      : code_(code),
        pattern_(pattern),
        subject_(subject),
        data_(pcre2_match_data_create_from_pattern(code, nullptr)) {
    if (!data_) throw std::bad_alloc();
  }

  bool run(std::size_t offset, std::uint32_t options) {
    if (checked_) options |= PCRE2_NO_UTF_CHECK;
    int rc = pcre2_match(code_, code_units(subject_), subject_.size(), offset, options,
                         data_.get(), nullptr);
    // JIT code backtracks on a small fixed stack, the interpreter on the heap: a long subject
    // that needs deep backtracking still matches, only slower.
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      rc = pcre2_match(code_, code_units(subject_), subject_.size(), offset,
                       options | PCRE2_NO_JIT, data_.get(), nullptr);
    }
    if (rc >= PCRE2_ERROR_UTF8_ERR21 && rc <= PCRE2_ERROR_UTF8_ERR1) {
      throw ValueError("subject is not valid UTF-8 at byte " +
                       std::to_string(pcre2_get_startchar(data_.get())) + ": " +
                       pcre2_message(rc));
    }
    checked_ = true;
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc < 0) {
      throw ValueError("regular expression '" + pattern_ + "' could not be matched: " +
                       pcre2_message(rc));
    }
    return true;
  }

  const PCRE2_SIZE* ovector() const { return pcre2_get_ovector_pointer(data_.get()); }

  std::optional<std::string> group_text(std::size_t group) const {
    const PCRE2_SIZE* ov = ovector();
    if (ov[2 * group] == PCRE2_UNSET) return std::nullopt;
    return std::string(subject_.substr(ov[2 * group], ov[2 * group + 1] - ov[2 * group]));
  }

 private:
  const pcre2_code* code_;
  const std::string& pattern_;
  std::string_view subject_;
  std::unique_ptr<pcre2_match_data, MatchDataFree> data_;
  bool checked_ = false;
};

}  // namespace

Regex::Regex(std::string_view pattern) : pattern_(pattern) {
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  pcre2_code* code = pcre2_compile(code_units(pattern), pattern.size(), PCRE2_UTF | PCRE2_UCP,
                                   &error_code, &error_offset, nullptr);
  if (code == nullptr) {
    throw ValueError("invalid regular expression '" + pattern_ + "' at position " +
                     std::to_string(char_position(pattern, error_offset)) + ": " +
                     pcre2_message(error_code));
  }
  code_ = std::make_shared<const Compiled>(code);
  // Without JIT support (or memory for it) the interpreter does the same work, only slower.
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  std::uint32_t captures = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
  group_count_ = captures;
}

bool Regex::search(std::string_view subject) const {
  Matcher m(code_->code, pattern_, subject);
  return m.run(0, 0);
}

std::optional<Match> Regex::search_match(std::string_view subject) const {
  Matcher m(code_->code, pattern_, subject);
  if (!m.run(0, 0)) return std::nullopt;
  const PCRE2_SIZE* ov = m.ovector();
  Match match;
  match.span = {ov[0], ov[1]};
  match.text = *m.group_text(0);
  for (std::size_t g = 1; g <= group_count_; ++g) {
    match.groups.push_back(m.group_text(g));
    if (ov[2 * g] == PCRE2_UNSET) {
      match.group_spans.emplace_back();
    } else {
      match.group_spans.push_back(Span{ov[2 * g], ov[2 * g + 1]});
    }
  }
  return match;
}

std::vector<Value> Regex::find_all(std::string_view subject) const {
  Matcher m(code_->code, pattern_, subject);
  std::vector<Value> found;
  std::size_t pos = 0;
  // After an empty match the next one may start at the same place only if it is not empty there
  // (Python 3.7+); PCRE2_NOTEMPTY_ATSTART says exactly that.
  bool after_empty = false;
  while (pos <= subject.size()) {
    if (!m.run(pos, after_empty ? PCRE2_NOTEMPTY_ATSTART : 0)) break;
    const PCRE2_SIZE* ov = m.ovector();
    const std::size_t start = ov[0];
    const std::size_t end = ov[1];

    if (group_count_ == 0) {
      found.emplace_back(*m.group_text(0));
    } else if (group_count_ == 1) {
      found.emplace_back(m.group_text(1).value_or(std::string()));
    } else {
      List groups;
      for (std::size_t g = 1; g <= group_count_; ++g) {
        groups.emplace_back(m.group_text(g).value_or(std::string()));
      }
      found.push_back(Value::tuple(std::move(groups)));
    }

    if (end > pos) {
      after_empty = start == end;
      pos = end;
    } else if (!after_empty) {
      after_empty = true;
    } else {
      // No progress although an empty match was excluded (\K can do that): step over one
      // character, never into the middle of one.
      if (pos == subject.size()) break;
      ++pos;
      while (pos < subject.size() && is_continuation_byte(subject[pos])) ++pos;
      after_empty = false;
    }
  }
  return found;
}

}  // namespace tovik
