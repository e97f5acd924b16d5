#include "batch/json_fields.hpp"

#include <cmath>
#include <string_view>

namespace kestrav::batch {
namespace {

// The value as messages show it: its JSON text, cut short when long.
std::string shown(const nlohmann::json& value) {
  std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

}  // namespace

std::string fieldPath(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

const nlohmann::json& requiredField(const nlohmann::json& object, const std::string& where,
                                    const std::string& key) {
  if (!object.is_object()) throw FieldError(where.empty() ? "(top)" : where, "must be an object");
  const auto found = object.find(key);
  if (found == object.end()) throw FieldError(fieldPath(where, key), "is missing");
  return *found;
}

const nlohmann::json* optionalField(const nlohmann::json& object, const std::string& key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  return found == object.end() || found->is_null() ? nullptr : &*found;
}

double numberValue(const nlohmann::json& value, const std::string& field) {
  if (!value.is_number()) throw FieldError(field, "must be a number, got " + shown(value));
  const double number = value.get<double>();
  if (!std::isfinite(number)) throw FieldError(field, "must be a finite number");
  return number;
}

long long integerValue(const nlohmann::json& value, const std::string& field) {
  if (value.is_number_integer()) return value.get<long long>();
  // 262144.0 is a whole number too; 2.5 is not.
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9.0e15) {
      return static_cast<long long>(number);
    }
  }
  throw FieldError(field, "must be a whole number, got " + shown(value));
}

std::string stringValue(const nlohmann::json& value, const std::string& field) {
  if (!value.is_string()) throw FieldError(field, "must be a string, got " + shown(value));
  return value.get<std::string>();
}

bool boolValue(const nlohmann::json& value, const std::string& field) {
  if (!value.is_boolean()) throw FieldError(field, "must be true or false, got " + shown(value));
  return value.get<bool>();
}

void requireKnownFields(const nlohmann::json& object, const std::string& where,
                        std::initializer_list<const char*> known) {
  if (!object.is_object()) return;
  for (const auto& [key, value] : object.items()) {
    bool found = false;
    for (const char* name : known) found = found || key == std::string_view(name);
    if (!found) throw FieldError(fieldPath(where, key), "is not a known field");
  }
}

}  // namespace kestrav::batch
