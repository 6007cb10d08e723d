// Exit codes of the run-time failures that end the program without a message.
#pragma once

#include <cstdint>

namespace selfx {

constexpr std::uint32_t kExitMemoryExhausted = 203;
constexpr std::uint32_t kExitInvalidRelease = 204;

// The exit code for a processor fault or an exception that reached the top level: 200
// division by zero, 202 stack overflow, 215 integer overflow, 216 access violation, 217 a
// thrown exception nobody caught, 255 anything else.
std::uint32_t ExitCodeForFault(std::uint32_t exception_code);

}  // namespace selfx
