#include "cli/front/command_line.h"

#include <cstring>

namespace selfx::cli {

#ifndef SELFX_VERSION
#define SELFX_VERSION "0.0"
#endif
const char* const kVersion = SELFX_VERSION;

namespace {

// The help's column of explanations.
constexpr std::size_t kHelpColumn = 27;

const OptionSpec* FindLong(const std::vector<const OptionSpec*>& options, const std::string& name) {
  for (const OptionSpec* option : options) {
    if (option->long_name != nullptr && name == option->long_name) return option;
  }
  return nullptr;
}

const OptionSpec* FindShort(const std::vector<const OptionSpec*>& options, char letter) {
  for (const OptionSpec* option : options) {
    if (option->short_name != nullptr && option->short_name[0] == letter) return option;
  }
  return nullptr;
}

}  // namespace

bool ReadCommandLine(const Arguments& arguments, const std::vector<const OptionSpec*>& options,
                     std::vector<CommandLineItem>& items, std::string& error_text) {
  error_text.clear();
  auto fault = [&error_text](const std::string& text) {
    if (error_text.empty()) error_text = text;
  };
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      items.push_back({nullptr, argument, argument});
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    // The value that follows the option's name in the same argument, or in the next one,
    // which is taken as it is, whatever it looks like.
    auto take_value = [&](const OptionSpec* option, const std::string& spelling,
                          const std::string* attached) {
      if (attached != nullptr) {
        items.push_back({option, *attached, spelling});
      } else if (i + 1 < arguments.size()) {
        items.push_back({option, arguments[++i], spelling});
      } else {
        fault(spelling + " needs a value");
      }
    };
    if (argument[1] == '-') {
      std::string::size_type equals = argument.find('=');
      std::string name = argument.substr(2, equals == std::string::npos ? equals : equals - 2);
      std::string spelling = "--" + name;
      const OptionSpec* option = FindLong(options, name);
      if (option == nullptr) {
        fault("unknown option " + spelling);
      } else if (option->value_name == nullptr) {
        if (equals != std::string::npos) {
          fault(spelling + " takes no value");
        } else {
          items.push_back({option, std::string(), spelling});
        }
      } else {
        std::string attached = equals == std::string::npos ? std::string()
                                                           : argument.substr(equals + 1);
        take_value(option, spelling, equals == std::string::npos ? nullptr : &attached);
      }
      continue;
    }
    // Short options: flags may stand together; the first one that takes a value takes the
    // rest of the argument, or the next argument.
    for (std::size_t at = 1; at < argument.size(); ++at) {
      std::string spelling = std::string("-") + argument[at];
      const OptionSpec* option = FindShort(options, argument[at]);
      if (option == nullptr) {
        fault("unknown option " + spelling);
        break;
      }
      if (option->value_name == nullptr) {
        items.push_back({option, std::string(), spelling});
        continue;
      }
      std::string attached = argument.substr(at + 1);
      take_value(option, spelling, attached.empty() ? nullptr : &attached);
      break;
    }
  }
  return error_text.empty();
}

std::string OptionHelpLine(const OptionSpec& option) {
  std::string line = option.short_name != nullptr ? std::string("  -") + option.short_name + ", --"
                                                  : std::string("      --");
  line += option.long_name;
  if (option.value_name != nullptr) line = line + " " + option.value_name;
  line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ')
                                    : "\n" + std::string(kHelpColumn, ' ');
  for (const char* c = option.help; *c != '\0'; ++c) {
    line += *c;
    if (*c == '\n') line.append(kHelpColumn, ' ');
  }
  return line + "\n";
}

std::string OptionHelp(const std::vector<const OptionSpec*>& options) {
  std::string help;
  for (const OptionSpec* option : options) {
    if (option->help != nullptr) help += OptionHelpLine(*option);
  }
  return help;
}

}  // namespace selfx::cli
