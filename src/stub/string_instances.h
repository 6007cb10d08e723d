// Forced into every file of the stub. The string class's members are instantiated once, in
// stub_runtime.cpp, and the library's own declarations send every file there; the constructor
// from a C string is a template of its own that those declarations leave out, so every file
// would make (and specialise) a private copy of it. This declaration sends it there too.
#pragma once
#ifdef __cplusplus
#include <string>
extern template std::string::basic_string(const char*, const std::allocator<char>&);
#endif
