#include "cli/json.h"

#include <cstdio>

#include "platform/platform.h"

namespace selfx::cli {

namespace {
std::string Quoted(const std::string& utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}
}  // namespace

void JsonWriter::Key(const char* key) {
  if (!first_) out_ += ',';
  first_ = false;
  if (key != nullptr) out_ += Quoted(key) + ':';
}

JsonWriter& JsonWriter::BeginObject(const char* key) {
  Key(key);
  out_ += '{';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  first_ = false;
  return *this;
}

JsonWriter& JsonWriter::BeginArray(const char* key) {
  Key(key);
  out_ += '[';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  first_ = false;
  return *this;
}

JsonWriter& JsonWriter::Text(const char* key, const std::string& ansi) {
  Key(key);
  out_ += Quoted(platform::AnsiToUtf8Text(ansi));
  return *this;
}

JsonWriter& JsonWriter::Number(const char* key, std::int64_t value) {
  Key(key);
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(const char* key, bool value) {
  Key(key);
  out_ += value ? "true" : "false";
  return *this;
}

void JsonWriter::Print() const { std::printf("%s\n", out_.c_str()); }

}  // namespace selfx::cli
