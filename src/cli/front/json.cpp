#include "cli/front/json.h"

#include <cstdio>

#include "platform/platform.h"
#include "ui/console/report.h"

namespace selfx::cli {

namespace {

bool json_requested = false;
bool json_printed = false;

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

JsonWriter& JsonWriter::Path(const char* key, const std::string& ansi) {
  return Text(key, platform::WithNativeSeparators(ansi));
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

JsonWriter& JsonWriter::ConsoleText(const char* key, const std::string& text) {
  Key(key);
  out_ += Quoted(platform::ConsoleTextToUtf8(text));
  return *this;
}

JsonWriter& JsonWriter::ReportedErrors() {
  BeginArray("errors");
  for (const std::string& line : console::ReportedLines()) ConsoleText(nullptr, line);
  return EndArray();
}

void JsonWriter::Print() const {
  std::printf("%s\n", out_.c_str());
  std::fflush(stdout);
  json_printed = true;
}

void RequestJsonOutput() { json_requested = true; }
bool JsonOutputRequested() { return json_requested; }

void FinishJsonOutput(int exit_status) {
  if (!json_requested || json_printed) return;
  const std::vector<std::string>& lines = console::ReportedLines();
  JsonWriter json;
  json.BeginObject();
  json.ConsoleText("error", lines.empty() ? std::string("failed") : lines.front());
  json.ReportedErrors().Number("exit_status", exit_status).EndObject().Print();
}

}  // namespace selfx::cli

namespace selfx::cli {

void ReportError(const std::string& message) { console::ReportLine(message); }

}  // namespace selfx::cli
