// The small pieces of JSON that the tools write: strings with proper escapes
// and numbers that stay valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarrow::tools {

// Each byte as the code point of the same value (ISO-8859-1), in UTF-8.
std::string latin1ToUtf8(std::string_view bytes);
// Valid UTF-8 kept as it is; each byte of an invalid sequence becomes U+FFFD.
std::string repairUtf8(std::string_view bytes);
// A JSON string literal (quotes included) of UTF-8 text.
std::string jsonString(std::string_view utf8);
// Lower-case hex, two digits a byte.
std::string hexBytes(const std::vector<std::uint8_t>& bytes);
// A number with up to three decimals; null when not finite.
std::string jsonNumber(double v);

// Builds one JSON object field by field, in the order given.
class JsonObject {
public:
    JsonObject& raw(std::string_view key, std::string_view json);
    JsonObject& str(std::string_view key, std::string_view utf8) { return raw(key, jsonString(utf8)); }
    JsonObject& num(std::string_view key, std::int64_t v) { return raw(key, std::to_string(v)); }
    JsonObject& real(std::string_view key, double v) { return raw(key, jsonNumber(v)); }
    JsonObject& boolean(std::string_view key, bool v) { return raw(key, v ? "true" : "false"); }
    std::string done() const;

private:
    std::string body_;
};

}  // namespace quarrow::tools
