// State that each decoding thread keeps for itself. The command-line tool decodes entries on
// several threads at once, each with its own input, output area, tables, keys and archive
// handle; the stub runs one extraction on one thread, and thread-local storage would only cost
// it size, so there the state stays plain program-wide data.
#pragma once

// The stub is the Windows build without SELFX_TOOL_BUILD; every other build (the host core,
// the Windows tool) is the tool's. Everything that declares or defines this state sees the
// same answer: SELFX_TOOL_BUILD reaches whatever links the Windows tool's core.
#if defined(_WIN32) && !defined(SELFX_TOOL_BUILD)
#define SELFX_SINGLE_THREADED 1
#define SELFX_PER_THREAD
#else
#define SELFX_PER_THREAD thread_local
#endif
