# What a package holds: the program, the README, the licence and the
# changelog, the man page beside a Unix program, and the page when one is
# given (the web build's package holds the page in place of a program).
# The Windows and web zips keep the documents at the top.
#
# cpack: patcher-VERSION-Linux.tar.gz, patcher-VERSION-win64.zip when
# cross-built for Windows, patcher-VERSION-web.zip from the web build; each
# with a .sha256 file beside it.
set(page ${PATCHER_PAGE})
if(EMSCRIPTEN)
  set(page ${PROJECT_BINARY_DIR}/patcher.html)
  set(CPACK_SYSTEM_NAME web)
else()
  install(TARGETS patcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(WIN32 OR EMSCRIPTEN)
  set(docs .)
  set(CPACK_GENERATOR ZIP)
else()
  set(docs ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
  install(FILES patcher.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES README.md LICENSE CHANGELOG.md ${page} DESTINATION ${docs})

set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
