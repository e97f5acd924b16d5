#pragma once
// Typed reads of JSON fields whose failures name the field by its path
// ("receivers[1].recording.rate_hz"), so that a bad input gets one line saying where.
#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>

namespace kestrav::batch {

class FieldError : public std::runtime_error {
 public:
  FieldError(const std::string& field, const std::string& reason)
      : std::runtime_error(field + ": " + reason) {}
};

// The path of `key` inside the object at `where` ("" for the top).
std::string fieldPath(const std::string& where, const std::string& key);

// The member `key` of `object`; throws FieldError when it is absent.
const nlohmann::json& requiredField(const nlohmann::json& object, const std::string& where,
                                    const std::string& key);
// The member, or null when absent.
const nlohmann::json* optionalField(const nlohmann::json& object, const std::string& key);

// Each throws FieldError naming `field` when the value is not of the type, or not finite.
double numberValue(const nlohmann::json& value, const std::string& field);
long long integerValue(const nlohmann::json& value, const std::string& field);
std::string stringValue(const nlohmann::json& value, const std::string& field);
bool boolValue(const nlohmann::json& value, const std::string& field);

// Throws FieldError naming the first member of `object` that is not among `known`.
void requireKnownFields(const nlohmann::json& object, const std::string& where,
                        std::initializer_list<const char*> known);

}  // namespace kestrav::batch
