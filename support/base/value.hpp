// The one value type that flows between case files, keywords and the variable store.
#pragma once

#include <compare>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tovik {

class Value;

// Something a case can hold but not spell: a driver, an element, a response.
class Object {
 public:
  virtual ~Object() = default;
  // Kind name used in messages, e.g. "WebDriver".
  virtual std::string type_name() const = 0;
  // Printable form; by default "<type_name object>".
  virtual std::string repr() const;
};

using List = std::vector<Value>;

// An integer beyond the signed 64-bit range (JSON texts and YAML files may hold one), kept as its
// decimal digits, "-" first when negative and no leading zeros, so that it compares and prints
// exactly.
struct BigInt {
  std::string digits;
  bool operator==(const BigInt&) const = default;
};

// Mapping with text keys that keeps insertion order (assignment to an existing key keeps its place).
class Dict {
 public:
  using Entry = std::pair<std::string, Value>;
  using iterator = std::vector<Entry>::iterator;
  using const_iterator = std::vector<Entry>::const_iterator;

  Dict() = default;
  Dict(std::initializer_list<Entry> entries);

  // Defined below Value: they need Entry complete (clang instantiates it here, GCC later).
  bool empty() const;
  std::size_t size() const;
  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;

  bool contains(std::string_view key) const { return find(key) != nullptr; }
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  // Throws KeyError naming the key.
  const Value& at(std::string_view key) const;
  Value& at(std::string_view key);
  // Inserts none when missing.
  Value& operator[](std::string_view key);
  void set(std::string key, Value value);
  bool erase(std::string_view key);
  void update(const Dict& other);

  bool operator==(const Dict& other) const;

 private:
  std::vector<Entry> entries_;
};

class Value {
 public:
  enum class Kind : std::uint8_t { None, Bool, Int, Float, Str, List, Tuple, Dict, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : kind_(Kind::Bool), data_(b) {}
  Value(int i) : kind_(Kind::Int), data_(std::int64_t{i}) {}
  Value(long i) : kind_(Kind::Int), data_(std::int64_t{i}) {}
  Value(long long i) : kind_(Kind::Int), data_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : kind_(Kind::Int), data_(std::int64_t{i}) {}
  Value(double d) : kind_(Kind::Float), data_(d) {}
  Value(const char* s) : kind_(Kind::Str), data_(std::string(s)) {}
  Value(std::string s) : kind_(Kind::Str), data_(std::move(s)) {}
  Value(std::string_view s) : kind_(Kind::Str), data_(std::string(s)) {}
  Value(List l) : kind_(Kind::List), data_(std::move(l)) {}
  Value(Dict d) : kind_(Kind::Dict), data_(std::move(d)) {}
  Value(std::shared_ptr<Object> o);

  static Value tuple(List items);
  // The integer a decimal text stands for: [-+]?[0-9]+ and nothing else (ValueError otherwise).
  // An int either way: 64 bits when it fits, else kept exactly as a BigInt.
  static Value integer(std::string_view decimal);
  static Value list(std::initializer_list<Value> items) { return Value(List(items)); }

  Kind kind() const { return kind_; }
  // Python-like kind name for messages: "NoneType", "bool", "int", "float", "str", "list",
  // "tuple", "dict", or the object's own name.
  std::string type_name() const;

  bool is_none() const { return kind_ == Kind::None; }
  bool is_bool() const { return kind_ == Kind::Bool; }
  bool is_int() const { return kind_ == Kind::Int; }  // of any size
  bool is_big_int() const { return kind_ == Kind::Int && std::holds_alternative<BigInt>(data_); }
  bool is_float() const { return kind_ == Kind::Float; }
  bool is_number() const { return kind_ == Kind::Int || kind_ == Kind::Float; }
  bool is_str() const { return kind_ == Kind::Str; }
  bool is_list() const { return kind_ == Kind::List; }
  bool is_tuple() const { return kind_ == Kind::Tuple; }
  bool is_sequence() const { return kind_ == Kind::List || kind_ == Kind::Tuple; }
  bool is_dict() const { return kind_ == Kind::Dict; }
  bool is_object() const { return kind_ == Kind::Object; }

  // Accessors throw TypeError when the kind differs.
  bool as_bool() const;
  // OverflowError for an int beyond 64 bits: whatever needs a machine integer cannot use it.
  std::int64_t as_int() const;
  // Ints widen; OverflowError for an int beyond double's range (more than 308 digits).
  double as_float() const;
  // The decimal digits of an int of any size (bools as 0 and 1).
  std::string int_text() const;
  const std::string& as_str() const;
  const List& as_list() const;  // list or tuple
  List& as_list();
  const Dict& as_dict() const;
  Dict& as_dict();
  const std::shared_ptr<Object>& as_object() const;

  // The object as a given class, or null when this is not such an object.
  template <class T>
  std::shared_ptr<T> object_as() const {
    if (kind_ != Kind::Object) return nullptr;
    return std::dynamic_pointer_cast<T>(std::get<std::shared_ptr<Object>>(data_));
  }

  // Truth as in Python: none, false, 0, 0.0, empty text/sequence/mapping are false.
  bool truthy() const;

  // Equality as Python's ==: numbers (bool, int, float) compare by value, a text never equals a
  // number, a list never equals a tuple, objects by identity.
  bool operator==(const Value& other) const;

 private:
  Kind kind_ = Kind::None;
  std::variant<std::monostate, bool, std::int64_t, BigInt, double, std::string, List, Dict,
               std::shared_ptr<Object>>
      data_;
};

// The order of two numbers (bools, ints of any size, floats) by their exact values, as Python
// compares them: 2**53 + 1 is greater than the float 2.0**53. Unordered when either is NaN;
// TypeError when either is not a number.
std::partial_ordering compare_numbers(const Value& a, const Value& b);

inline bool Dict::empty() const { return entries_.empty(); }
inline std::size_t Dict::size() const { return entries_.size(); }
inline Dict::iterator Dict::begin() { return entries_.begin(); }
inline Dict::iterator Dict::end() { return entries_.end(); }
inline Dict::const_iterator Dict::begin() const { return entries_.begin(); }
inline Dict::const_iterator Dict::end() const { return entries_.end(); }

}  // namespace tovik
