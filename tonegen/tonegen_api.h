// What the shared library libzelkgen-tonegen exports: the classes and functions marked
// ZELKGEN_TONEGEN_API. The library is built with every other symbol hidden, and its version
// script (libzelkgen-tonegen.map) keeps the C++ library's template copies out as well, so that
// its interface is this and nothing more (exported_symbols.txt lists it).
#pragma once

#define ZELKGEN_TONEGEN_API __attribute__((visibility("default")))
