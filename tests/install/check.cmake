# Installs the build tree into a staging folder (DESTDIR, so even absolute destinations such as
# /etc/udev/rules.d stay inside it) and checks that every file a user needs lands where the
# program, the desktop and udev look for it, and that the installed program runs.
# Called with -DBUILD=<build tree> -DSOURCE=<source tree> -DSTAGE=<staging folder>
# -DPREFIX=<configured install prefix> -DRULES=<configured udev rule folder, empty without one>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${STAGE}"
                        "${CMAKE_COMMAND}" --install "${BUILD}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(root "${STAGE}${PREFIX}")

include("${CMAKE_CURRENT_LIST_DIR}/expect.cmake")

expect("${root}/bin/quillfen" "")
expect("${root}/share/quillfen/README.md" "${SOURCE}/app/resources/README.md")
# The device helper and its systemd units, the service naming the helper where it was installed.
if(EXISTS "${BUILD}/access/quillfen-access")
  expect("${root}/libexec/quillfen/quillfen-access" "")
  expect("${root}/lib/systemd/system/quillfen-access.socket"
         "${SOURCE}/packaging/quillfen-access.socket")
  file(READ "${root}/lib/systemd/system/quillfen-access.service" service)
  if(NOT service MATCHES "\nExecStart=${PREFIX}/libexec/quillfen/quillfen-access\n")
    message(FATAL_ERROR "the service does not start the installed helper:\n${service}")
  endif()
endif()
# The launcher, the udev rule and the documents of a Linux desktop come with the Linux platform, as
# the rule's folder does.
if(RULES)
  if(IS_ABSOLUTE "${RULES}")
    set(rules "${STAGE}${RULES}")
  else()
    set(rules "${root}/${RULES}")
  endif()
  expect("${rules}/70-quillfen.rules" "${SOURCE}/packaging/70-quillfen.rules")
  expect("${root}/share/applications/quillfen.desktop" "${SOURCE}/packaging/quillfen.desktop")
  expect("${root}/share/icons/hicolor/scalable/apps/quillfen.svg" "${SOURCE}/packaging/quillfen.svg")
  expect("${root}/share/icons/hicolor/48x48/apps/quillfen.png" "")
  expect("${root}/share/doc/quillfen/copyright" "${SOURCE}/packaging/debian/copyright")
  expect("${root}/share/man/man1/quillfen.1.gz" "")
  expect("${root}/share/metainfo/org.quillfen.Quillfen.metainfo.xml" "")
endif()

execute_process(COMMAND "${root}/bin/quillfen" --self-test
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "^PASS " OR NOT err STREQUAL "")
  message(FATAL_ERROR
          "installed program's self-test: status ${result}, output '${out}', errors '${err}'")
endif()
file(REMOVE_RECURSE "${STAGE}")
