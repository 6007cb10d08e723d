// A small JSON writer for the --json output of the commands: objects and arrays written in
// order, strings escaped, ANSI texts turned into UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace selfx::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject(const char* key = nullptr);
  JsonWriter& EndObject();
  JsonWriter& BeginArray(const char* key);
  JsonWriter& EndArray();
  // An ANSI text of the core (a name, a caption), written as UTF-8. Without a key it is an
  // element of the array being written.
  JsonWriter& Text(const char* key, const std::string& ansi);
  JsonWriter& Number(const char* key, std::int64_t value);
  JsonWriter& Bool(const char* key, bool value);
  // Prints the document and a line end on stdout.
  void Print() const;

 private:
  void Key(const char* key);
  std::string out_;
  bool first_ = true;
};

}  // namespace selfx::cli
