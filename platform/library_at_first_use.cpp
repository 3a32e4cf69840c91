#include "library_at_first_use.h"

#include <dlfcn.h>

void* OpenLibrary(const char* file, std::string* error) {
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : std::string("cannot load ") + file;
  }
  return library;
}

void CloseLibrary(void* library) {
  dlclose(library);
}

void* SymbolResolver::Find(const char* name) {
  void* symbol = dlsym(library_, name);
  if (symbol == nullptr) *error_ = std::string(file_) + " lacks " + name;
  return symbol;
}
