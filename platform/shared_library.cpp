#include "platform/shared_library.h"

#include <dlfcn.h>

namespace tessaly {

SharedLibrary::SharedLibrary(const std::string& soname)
    // Its functions are bound as they are first called, as a linked library's are; its own
    // calls find the program's definitions before its own, as they do when it is linked.
    : m_handle(::dlopen(soname.c_str(), RTLD_LAZY | RTLD_LOCAL))
{
    if (m_handle == nullptr) m_error = ::dlerror();
}

void* SharedLibrary::symbol(const char* name)
{
    if (m_handle == nullptr) return nullptr;
    void* address = ::dlsym(m_handle, name);
    if (address == nullptr) m_error = std::string(name) + " is missing from the library";
    return address;
}

}  // namespace tessaly
