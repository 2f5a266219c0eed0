// A JSON value as the configuration reader hands it back: null, a boolean,
// an integer (signed when negative, unsigned otherwise), a double, a string,
// an array or an object. Values are immutable once built and own their
// children, so a parsed document is one tree with no sharing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace diagpack {

enum class JsonKind {
  Null,
  Bool,
  Int64,
  Uint64,
  Double,
  String,
  Array,
  Object
};

class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  using Member = std::pair<std::string, JsonValue>;
  // Sorted by name, byte for byte, each name once.
  using Object = std::vector<Member>;

  // Null.
  JsonValue() = default;

  static JsonValue from_bool(bool value);
  static JsonValue from_int64(std::int64_t value);
  static JsonValue from_uint64(std::uint64_t value);
  static JsonValue from_double(double value);
  static JsonValue from_string(std::string value);
  static JsonValue from_array(Array elements);
  // Takes members in document order; when a name occurs more than once the
  // later member wins and the earlier ones are dropped.
  static JsonValue from_members(std::vector<Member> members);

  JsonKind kind() const { return static_cast<JsonKind>(value_.index()); }
  bool is_null() const { return kind() == JsonKind::Null; }
  bool is_bool() const { return kind() == JsonKind::Bool; }
  bool is_int64() const { return kind() == JsonKind::Int64; }
  bool is_uint64() const { return kind() == JsonKind::Uint64; }
  bool is_double() const { return kind() == JsonKind::Double; }
  bool is_number() const { return is_int64() || is_uint64() || is_double(); }
  bool is_string() const { return kind() == JsonKind::String; }
  bool is_array() const { return kind() == JsonKind::Array; }
  bool is_object() const { return kind() == JsonKind::Object; }

  // Each accessor requires the matching is_*() to hold.
  bool as_bool() const { return std::get<bool>(value_); }
  std::int64_t as_int64() const { return std::get<std::int64_t>(value_); }
  std::uint64_t as_uint64() const { return std::get<std::uint64_t>(value_); }
  double as_double() const { return std::get<double>(value_); }
  const std::string& as_string() const { return std::get<std::string>(value_); }
  const Array& as_array() const { return std::get<Array>(value_); }
  const Object& as_object() const { return std::get<Object>(value_); }

  // The member called |name| (compared byte for byte), or a shared
  // immutable null when there is none or this value is not an object.
  const JsonValue& member(std::string_view name) const;

  // Same kind and same content; an int64 never equals a uint64 or a double.
  bool operator==(const JsonValue& other) const;

 private:
  // Alternatives in JsonKind order.
  using Storage =
      std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double,
                   std::string, Array, Object>;
  explicit JsonValue(Storage value) : value_(std::move(value)) {}

  Storage value_;
};

}  // namespace diagpack
