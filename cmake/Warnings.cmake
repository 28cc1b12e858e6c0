add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
    -Wformat=2)
if(CMAKE_COMPILE_WARNING_AS_ERROR)
    target_compile_options(project_warnings INTERFACE -Werror)
endif()
