#pragma once
// The pieces of scenario reading that the operator features share: each feature reads its own
// section of the scenario with them, so the core reader does not grow with every feature.
// Every function throws nlohmann::json::exception on a value of the wrong type, or
// std::runtime_error with a readable message.

#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "sim/scenario.h"

namespace tovalink::sim {

// The value of `key`, or `fallback` when it is missing or null.
template <typename T>
T Get(const nlohmann::json& object, const char* key, T fallback) {
  if (!object.contains(key) || object[key].is_null()) return fallback;
  return object[key].get<T>();
}

Delivery ParseDelivery(const nlohmann::json& object);
IncomingMessage ParseMessage(const nlohmann::json& object);
Reaction ParseReaction(const nlohmann::json& object);
// A rule whose regular expression is the value of `target_key` (".*" when missing); `where`
// names the section in messages.
RequestRule ParseRequest(const nlohmann::json& object, const char* target_key, const char* where);
std::regex Regex(const std::string& pattern, const char* where);

}  // namespace tovalink::sim
