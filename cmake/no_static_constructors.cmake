# Fails, and removes the exe, when the link map shows a static constructor
# (an input section .ctors or .init_array, of any priority, from any object):
# the exe runs no runtime start-up code, so it would never run.
#   cmake -DMAP=Brannoch.map -DEXE=Brannoch.exe -P no_static_constructors.cmake
file(STRINGS "${MAP}" lines REGEX "^ \\.(ctors|init_array)")
if(lines)
  string(REPLACE ";" "\n" lines "${lines}")
  if(EXE)
    file(REMOVE "${EXE}")
  endif()
  message(FATAL_ERROR "static constructors, which would never run:\n${lines}")
endif()
