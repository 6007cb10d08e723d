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
  // A path of the core (an entry's name), in this system's own form.
  JsonWriter& Path(const char* key, const std::string& ansi);
  JsonWriter& Number(const char* key, std::int64_t value);
  JsonWriter& Bool(const char* key, bool value);
  // "errors": every message ReportError printed so far, as UTF-8.
  JsonWriter& ReportedErrors();
  // Prints the document and a line end on stdout.
  void Print() const;
  // A text in the terminal's encoding (a message, a native path), written as UTF-8.
  JsonWriter& ConsoleText(const char* key, const std::string& text);

 private:
  void Key(const char* key);
  std::string out_;
  bool first_ = true;
};

// --json promises exactly one JSON object on stdout, whatever happens. A command calls this
// when it parses --json; from then on a run that ends without printing its object (bad usage,
// an unreadable file, a fatal error of the core) gets one printed for it:
// {"error": first message, "errors": [...], "exit_status": N}.
void RequestJsonOutput();
bool JsonOutputRequested();
// Prints that object when --json was asked for and nothing was printed yet.
void FinishJsonOutput(int exit_status);

}  // namespace selfx::cli
