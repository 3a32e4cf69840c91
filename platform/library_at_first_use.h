// A shared library opened by name at its first use instead of being linked, with the functions a
// caller needs resolved into a table of its own. Linking pulls a library's own dependencies
// (sound servers, codecs) into every start of the program; loading it when it is first needed
// keeps that cost, and a missing library, away from starts that never use it.
//
// LibraryAtFirstUse<Table>(file, fill) opens file (local: its symbols stay out of the global
// namespace) and calls fill(resolve, table), which resolves each function with
// resolve("name", &table.entry) and returns whether all were found. This happens once per process
// and table type, safely from any thread; later calls return the same result. A table with a
// missing function is never handed out, and the library is then closed again; a complete one is
// never unloaded.
#pragma once

#include <string>

// Resolves the functions of one opened library; the first one missing is named in the error.
class SymbolResolver {
 public:
  SymbolResolver(void* library, const char* file, std::string* error)
      : library_(library), file_(file), error_(error) {}

  template <typename Function>
  bool operator()(const char* name, Function* entry) {
    void* symbol = Find(name);
    if (symbol == nullptr) return false;
    *entry = reinterpret_cast<Function>(symbol);
    return true;
  }

 private:
  void* Find(const char* name);

  void* library_;
  const char* file_;
  std::string* error_;
};

template <typename Table>
struct LoadedLibrary {
  Table table{};
  bool complete = false;
  std::string error;  // why the table is not complete: the loader's message

  const Table* Get() const { return complete ? &table : nullptr; }
};

// The library's handle, or nullptr with the loader's message in *error.
void* OpenLibrary(const char* file, std::string* error);
void CloseLibrary(void* library);

template <typename Table, typename Fill>
LoadedLibrary<Table> LoadLibraryTable(const char* file, Fill fill) {
  LoadedLibrary<Table> loaded;
  void* library = OpenLibrary(file, &loaded.error);
  if (library == nullptr) return loaded;
  SymbolResolver resolve(library, file, &loaded.error);
  loaded.complete = fill(resolve, loaded.table);
  if (!loaded.complete) {
    loaded.table = Table{};
    CloseLibrary(library);
  }
  return loaded;
}

template <typename Table, typename Fill>
const LoadedLibrary<Table>& LibraryAtFirstUse(const char* file, Fill fill) {
  // C++ makes the initialisation of a function-local static thread-safe.
  static const LoadedLibrary<Table> loaded = LoadLibraryTable<Table>(file, fill);
  return loaded;
}
