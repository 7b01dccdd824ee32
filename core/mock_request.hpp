// The parts of one HTTP request that the API keywords gather between two sends.
#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "support/base/value.hpp"

namespace tovik {

class MockRequest {
 public:
  MockRequest() = default;

  Value headers = Value(Dict{});  // name -> text
  Value cookies = Value(Dict{});  // name -> text
  Value params = Value(Dict{});   // name -> text
  Value data = Value(Dict{});     // form fields, or whatever JSON value set_form gave
  Value json = Value(Dict{});     // the JSON body; an empty mapping unless set
  Value files = Value(List{});    // (field name, open file) tuples

  // The fields by name, in the order above: the record's own members, not copies.
  class Fields {
   public:
    using Entry = std::pair<std::string_view, Value*>;
    explicit Fields(MockRequest& r);
    // KeyError for a name that is not a field.
    Value& at(std::string_view name) const;
    const Entry* begin() const { return entries_.data(); }
    const Entry* end() const { return entries_.data() + entries_.size(); }
    std::size_t size() const { return entries_.size(); }

   private:
    std::array<Entry, 6> entries_;
  };
  Fields to_dict() { return Fields(*this); }
};

}  // namespace tovik
