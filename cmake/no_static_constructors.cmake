# Fails, and removes the exe, when the link map shows a static constructor or
# initialiser: an input section .ctors, .ctor or .init_array (of any
# priority), or .CRT$XC* / .CRT$XI* (the C++ and C initialiser tables, as
# MSVC-style code places them), from any object. The exe runs no runtime
# start-up code, so none would ever run. The runtime's own bounds of those
# tables (.CRT$XCA, XCZ, XIA, XIZ) hold no initialiser and pass.
#   cmake -DMAP=Brannoch.map -DEXE=Brannoch.exe -P no_static_constructors.cmake
file(STRINGS "${MAP}" lines REGEX "^ \\.(ctors?|init_array|CRT\\$X[CI])")
list(FILTER lines EXCLUDE REGEX "^ \\.CRT\\$X[CI][AZ]([ \t]|$)")
if(lines)
  string(REPLACE ";" "\n" lines "${lines}")
  if(EXE)
    file(REMOVE "${EXE}")
  endif()
  message(FATAL_ERROR "static constructors, which would never run:\n${lines}")
endif()
