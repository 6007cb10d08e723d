// Which program is being built. The stub is the Windows build without SELFX_TOOL_BUILD;
// every other build (the host core, the Windows tool) is the tool's, which adds what only
// selfx needs (decoding ahead on other threads) and the stub leaves out to stay small.
#pragma once

#if defined(_WIN32) && !defined(SELFX_TOOL_BUILD)
#define SELFX_STUB_BUILD 1
#endif
