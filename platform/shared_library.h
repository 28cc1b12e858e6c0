#pragma once

#include <string>

namespace tessaly {

// A shared library loaded while the program runs, found by its soname as the system's
// loader finds a linked one. A library only some runs need (and everything it depends on)
// is then loaded by the runs that need it, not at every program's start. Once loaded it
// stays until the program ends, as a linked one does: what it and the libraries it
// depends on keep (the blocks their start-up allocates) lives as long.
class SharedLibrary
{
public:
    // Loads the library; one that cannot be loaded gives no symbols, and error() says why.
    explicit SharedLibrary(const std::string& soname);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return m_handle != nullptr; }
    // The address of the function or object name; nullptr, with error() saying why, when
    // the library does not define it.
    void* symbol(const char* name);
    const std::string& error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace tessaly
