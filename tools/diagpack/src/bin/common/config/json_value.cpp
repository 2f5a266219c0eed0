#include "config/json_value.hpp"

#include <algorithm>  // std::stable_sort, std::lower_bound

namespace diagpack {

JsonValue JsonValue::from_bool(bool value) {
  return JsonValue(Storage(std::in_place_type<bool>, value));
}

JsonValue JsonValue::from_int64(std::int64_t value) {
  return JsonValue(Storage(std::in_place_type<std::int64_t>, value));
}

JsonValue JsonValue::from_uint64(std::uint64_t value) {
  return JsonValue(Storage(std::in_place_type<std::uint64_t>, value));
}

JsonValue JsonValue::from_double(double value) {
  return JsonValue(Storage(std::in_place_type<double>, value));
}

JsonValue JsonValue::from_string(std::string value) {
  return JsonValue(Storage(std::in_place_type<std::string>, std::move(value)));
}

JsonValue JsonValue::from_array(Array elements) {
  return JsonValue(Storage(std::in_place_type<Array>, std::move(elements)));
}

// A stable sort keeps members of the same name in document order, so the
// last of each run of equal names is the one that wins. Sorting once costs
// O(n log n) however many duplicates there are; replacing on insert would
// cost a lookup per member.
JsonValue JsonValue::from_members(std::vector<Member> members) {
  std::stable_sort(
      members.begin(), members.end(),
      [](const Member& a, const Member& b) { return a.first < b.first; });
  size_t kept = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i].first == members[i + 1].first) {
      continue;  // a later member of the same name follows
    }
    if (kept != i) members[kept] = std::move(members[i]);
    ++kept;
  }
  members.resize(kept);
  return JsonValue(Storage(std::in_place_type<Object>, std::move(members)));
}

const JsonValue& JsonValue::member(std::string_view name) const {
  static const JsonValue kNull;
  const Object* object = std::get_if<Object>(&value_);
  if (object == nullptr) return kNull;
  auto it = std::lower_bound(
      object->begin(), object->end(), name,
      [](const Member& m, std::string_view n) { return m.first < n; });
  if (it == object->end() || it->first != name) return kNull;
  return it->second;
}

bool JsonValue::operator==(const JsonValue& other) const {
  return value_ == other.value_;
}

}  // namespace diagpack
