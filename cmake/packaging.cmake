# What a package holds: the program, the README, the licence and the
# changelog, the man page beside a Unix program, and the page when one is
# given (the web build's package holds the page in place of a program).
# The Windows and web zips keep the documents at the top.
#
# `cmake --build DIR --target dist` makes patcher-VERSION-Linux.tar.gz,
# patcher-VERSION-win64.zip when cross-built for Windows, or
# patcher-VERSION-web.zip from the web build, each with a .sha256 file
# beside it: the same bytes from every build of one commit (archive.py).
set(page ${PATCHER_PAGE})
set(docs .)
set(archive zip)
if(EMSCRIPTEN)
  set(page ${PROJECT_BINARY_DIR}/patcher.html)
  set(system web)
elseif(WIN32)
  set(system win64)
else()
  set(system ${CMAKE_SYSTEM_NAME})
  set(docs ${CMAKE_INSTALL_DOCDIR})
  set(archive tar.gz)
  install(FILES patcher.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(NOT EMSCRIPTEN)
  install(TARGETS patcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES README.md LICENSE CHANGELOG.md ${page} DESTINATION ${docs})

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(name ${PROJECT_NAME}-${PROJECT_VERSION}-${system})
  set(stage ${PROJECT_BINARY_DIR}/dist)
  add_custom_target(dist
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${stage}/${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/archive.py ${stage}
            ${PROJECT_BINARY_DIR}/${name}.${archive}
    COMMENT "Making ${name}.${archive} and its .sha256"
    VERBATIM)
  add_dependencies(dist patcher)
  if(EMSCRIPTEN)
    add_dependencies(dist page)
  endif()
else()
  message(STATUS "Python 3 not found: no dist target")
endif()
