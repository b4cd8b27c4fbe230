#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vindelor::util {

// The command line's machine-readable output: JSON texts, written without spaces so that one
// object fits one line.

// A JSON string of UTF-8 text (a path, a message). Bytes that are not UTF-8 are read as
// Windows-1252, so the result is always valid UTF-8.
std::string JsonString(std::string_view utf8);
// A JSON string of Windows-1252 text: names and descriptions as files and devices hold them.
std::string JsonString1252(std::string_view text);
// A number in the shortest form that reads back the same, '.' as decimal point in every
// locale; null when it is not finite (JSON has no infinity or NaN).
std::string JsonNumber(double value);
// [a,b,...] of values that are JSON already.
std::string JsonArray(std::span<const std::string> values);

// One object, its members in the order they were added.
class JsonObject {
public:
    JsonObject& value(std::string_view key, std::string_view json);  // json is JSON already
    JsonObject& text(std::string_view key, std::string_view utf8) { return value(key, JsonString(utf8)); }
    JsonObject& text1252(std::string_view key, std::string_view text) { return value(key, JsonString1252(text)); }
    JsonObject& integer(std::string_view key, std::int64_t v) { return value(key, std::to_string(v)); }
    JsonObject& number(std::string_view key, double v) { return value(key, JsonNumber(v)); }
    JsonObject& boolean(std::string_view key, bool v) { return value(key, v ? "true" : "false"); }
    JsonObject& null(std::string_view key) { return value(key, "null"); }

    std::string str() const { return body_ + "}"; }

private:
    std::string body_ = "{";
};

}  // namespace vindelor::util
