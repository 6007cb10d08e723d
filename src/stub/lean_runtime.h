// Forced into every translation unit of the stub. libstdc++ normally links std::string from
// its own explicit instantiation, which drags in the exception machinery and its locale
// support (about 150 KB). Instantiating the templates in place keeps only what the stub uses;
// the few throw helpers they call are provided by stub_runtime.cpp.
#pragma once
#ifdef __cplusplus
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
#endif
