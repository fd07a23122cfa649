set(CMAKE_C_COMPILER ${VARD_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARD_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARD_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VARD_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything static: the exe must import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
