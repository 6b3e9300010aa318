# Builds the browser version with the installed Emscripten (Debian's
# emscripten package, or an emsdk on PATH): finds it the way emcmake does
# and uses its own toolchain file.
find_program(em_config NAMES em-config REQUIRED)
execute_process(COMMAND ${em_config} EMSCRIPTEN_ROOT OUTPUT_VARIABLE em_root
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
include(${em_root}/cmake/Modules/Platform/Emscripten.cmake)
