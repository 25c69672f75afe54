# Quillfen.app in the top of the build tree: the program in Contents/MacOS, Info.plist and PkgInfo
# in Contents, the guide in Contents/Resources. Included where the target `quillfen` is made.
#
# Zig's linker and Apple's both sign the arm64 executable ad hoc as they link it. On a Mac the
# whole bundle is then signed ad hoc with codesign, which also seals Info.plist and the guide; the
# cross build on Linux has no codesign, so there only the executable carries a signature.

set(QUILLFEN_BUNDLE ${PROJECT_BINARY_DIR}/Quillfen.app)
set(QUILLFEN_BUNDLE ${QUILLFEN_BUNDLE} PARENT_SCOPE)  # for the tests, which check it
set(contents ${QUILLFEN_BUNDLE}/Contents)
set_target_properties(quillfen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${contents}/MacOS)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in ${contents}/Info.plist @ONLY)
file(WRITE ${contents}/PkgInfo "APPL????")

set(guide ${contents}/Resources/README.md)
add_custom_command(OUTPUT ${guide}
                   COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/app/resources/README.md
                           ${guide}
                   DEPENDS ${PROJECT_SOURCE_DIR}/app/resources/README.md
                   COMMENT "Copying the guide into Quillfen.app")
set(made ${guide})
if(NOT CMAKE_CROSSCOMPILING)
  find_program(QUILLFEN_CODESIGN codesign REQUIRED)
  set(made ${PROJECT_BINARY_DIR}/Quillfen.app.signed)
  add_custom_command(OUTPUT ${made}
                     COMMAND ${QUILLFEN_CODESIGN} --force --sign - ${QUILLFEN_BUNDLE}
                     COMMAND ${CMAKE_COMMAND} -E touch ${made}
                     DEPENDS quillfen ${guide} ${contents}/Info.plist
                     COMMENT "Signing Quillfen.app ad hoc")
endif()
add_custom_target(bundle ALL DEPENDS ${made})
