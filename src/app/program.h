// The two ways the program ends, and the text routines every message is built with.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

constexpr const char* kCorruptMessage = "Cannot unzip: file is corrupt.";

// Shows the message (when not empty) in an error box without owner, then ends with exit
// code 1.
[[noreturn]] void FatalError(const std::string& message);
// Stores the exit code, runs the process-end steps and ends the process.
[[noreturn]] void EndProgram(std::uint32_t exit_code);

// Releases the program's texts (caption, target folder, command, message); the second of
// the process-end steps.
void ReleaseProgramTexts();

// The format with its first "%s" replaced by the argument; unchanged when it has none.
std::string FormatWith(const std::string& format, const std::string& argument);
// FormatWith with the first argument, then with the second.
std::string FormatWith2(const std::string& format, const std::string& first,
                        const std::string& second);

// The value in decimal, without sign or grouping, padded with leading zeros to min_digits.
std::string DecimalText(std::uint32_t value, int min_digits = 1);

}  // namespace selfx
