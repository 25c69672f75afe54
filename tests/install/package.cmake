# Makes the Debian package of the build tree with cpack, unpacks it into a scratch root with
# dpkg-deb (nothing is installed on this machine), and checks its files, its control fields and
# the scripts that make udev read the rule. Called with -DBUILD=<build tree>
# -DSOURCE=<source tree> -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
foreach(tool dpkg-deb dpkg-shlibdeps)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message("SKIPPED: ${tool} is not installed (scripts/deps.sh test installs dpkg-dev)")
    return()
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND "${CMAKE_CPACK_COMMAND}" -G DEB --config "${BUILD}/CPackConfig.cmake"
                        -B "${SCRATCH}/out"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB packages "${SCRATCH}/out/quillfen_*.deb")
list(LENGTH packages count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack failed (${result}): ${out} ${err}")
endif()

function(field name expected)
  execute_process(COMMAND dpkg-deb --field "${packages}" ${name} OUTPUT_VARIABLE value
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT value MATCHES "${expected}")
    message(FATAL_ERROR "control field ${name} is '${value}', expected to match '${expected}'")
  endif()
endfunction()
field(Package "^quillfen$")
field(Version "^[0-9]+\\.[0-9]+\\.[0-9]+$")
field(Architecture "^[a-z0-9]+$")
# A name and an address at a real host, not at localhost.
field(Maintainer "^[^<>]+ <[^@<>]+@[^@<>]+\\.[^@<>]+>$")
field(Section "^utils$")
field(Description "^foot pedal shortcuts")
# The libraries the program and the helper link, the display plugins no link shows, and udev for
# the rule; Qt's Wayland plugin, recommended.
foreach(dependency libqt6widgets6 libqt6dbus6 libqt6network6 libudev1 libsystemd0 libc6
                   qt6-qpa-plugins udev)
  field(Depends "(^|, )${dependency}( |,|$)")
endforeach()
field(Recommends "(^|, )qt6-wayland( |,|$)")
execute_process(COMMAND dpkg-deb --field "${packages}" Description OUTPUT_VARIABLE description)
string(REPLACE "\n" ";" lines "${description}")
foreach(line IN LISTS lines)
  string(LENGTH "${line}" length)
  if(length GREATER 80)
    message(FATAL_ERROR "a description line longer than 80 characters: '${line}'")
  endif()
endforeach()

set(root "${SCRATCH}/root")
execute_process(COMMAND dpkg-deb --extract "${packages}" "${root}" RESULT_VARIABLE result)
execute_process(COMMAND dpkg-deb --control "${packages}" "${SCRATCH}/control")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb --extract failed: ${result}")
endif()

include("${CMAKE_CURRENT_LIST_DIR}/expect.cmake")
expect("${root}/usr/bin/quillfen" "")
expect("${root}/usr/share/quillfen/README.md" "${SOURCE}/app/resources/README.md")
expect("${root}/usr/share/applications/quillfen.desktop" "${SOURCE}/packaging/quillfen.desktop")
expect("${root}/usr/lib/udev/rules.d/70-quillfen.rules" "${SOURCE}/packaging/70-quillfen.rules")
# No rule gives the user the input devices or /dev/uinput: the helper hands them to the program.
file(READ "${root}/usr/lib/udev/rules.d/70-quillfen.rules" rule)
string(REGEX REPLACE "#[^\n]*" "" rule "${rule}")
if(rule MATCHES "uaccess|MODE|GROUP|OWNER")
  message(FATAL_ERROR "the package's udev rule gives access to devices:\n${rule}")
endif()
if(EXISTS "${root}/usr/lib/udev/rules.d/71-quillfen-uaccess.rules")
  message(FATAL_ERROR "the package installs the development rule")
endif()
# The device helper and its units; the service starts it where the package put it. Started
# without its socket, the helper refuses to serve.
set(helper "${root}/usr/libexec/quillfen/quillfen-access")
expect("${helper}" "")
execute_process(COMMAND "${helper}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 1 OR NOT err MATCHES "socket-activated")
  message(FATAL_ERROR "the packaged helper without its socket: status ${result}, '${out}${err}'")
endif()
set(units "${root}/usr/lib/systemd/system")
expect("${units}/quillfen-access.socket" "${SOURCE}/packaging/quillfen-access.socket")
file(READ "${units}/quillfen-access.service" service)
if(NOT service MATCHES "\nExecStart=/usr/libexec/quillfen/quillfen-access\n")
  message(FATAL_ERROR "the service does not start the packaged helper:\n${service}")
endif()
expect("${root}/usr/share/icons/hicolor/scalable/apps/quillfen.svg" "${SOURCE}/packaging/quillfen.svg")
# The manual page, copyright file and changelog a Debian user expects, and the AppStream metadata,
# valid, for software centres.
set(doc "${root}/usr/share/doc/quillfen")
expect("${doc}/copyright" "${SOURCE}/packaging/debian/copyright")
set(metainfo "${root}/usr/share/metainfo/org.quillfen.Quillfen.metainfo.xml")
foreach(file "${doc}/changelog.gz" "${root}/usr/share/man/man1/quillfen.1.gz" "${metainfo}")
  expect("${file}" "")
endforeach()
execute_process(COMMAND gzip -dc "${doc}/changelog.gz" OUTPUT_VARIABLE changelog)
if(NOT changelog MATCHES "^quillfen \\([0-9.]+\\) ")
  message(FATAL_ERROR "the changelog does not begin with an entry of the package: ${changelog}")
endif()
execute_process(COMMAND gzip -dc "${root}/usr/share/man/man1/quillfen.1.gz" OUTPUT_VARIABLE page)
if(NOT page MATCHES "\n\\.SH NAME\nquillfen ")
  message(FATAL_ERROR "the manual page has no NAME section for quillfen")
endif()
# Runs a checker with these arguments where it is installed, which must pass; where it is not, says
# what went unchecked.
function(check tool unchecked)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message("${tool} is not installed: ${unchecked}")
    return()
  endif()
  execute_process(COMMAND "${found_${tool}}" ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${tool}: ${out}")
  endif()
endfunction()
check(appstreamcli "the AppStream metadata was not validated" validate --no-net "${metainfo}")

foreach(size 16 24 32 48 64 128 256)
  expect("${root}/usr/share/icons/hicolor/${size}x${size}/apps/quillfen.png" "")
  file(READ "${root}/usr/share/icons/hicolor/${size}x${size}/apps/quillfen.png" header
       LIMIT 24 HEX)
  # The PNG signature, then the IHDR chunk's width and height.
  string(SUBSTRING "${header}" 32 16 dimensions)
  math(EXPR expected_hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "" expected_hex "${expected_hex}")
  string(LENGTH "${expected_hex}" digits)
  math(EXPR pad "8 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  if(NOT header MATCHES "^89504e470d0a1a0a" OR NOT dimensions STREQUAL "${zeros}${expected_hex}${zeros}${expected_hex}")
    message(FATAL_ERROR "icon ${size}x${size} is not a PNG of that size: ${header}")
  endif()
endforeach()
file(READ "${root}/usr/share/applications/quillfen.desktop" entry)
if(NOT entry MATCHES "\nIcon=quillfen\n" OR NOT entry MATCHES "\nExec=quillfen\n")
  message(FATAL_ERROR "the desktop entry does not name the program and its icon")
endif()

# udev reads the rule at installation and forgets it at removal; the helper's socket is enabled
# and started at installation, stopped before removal, masked at removal and forgotten at purge.
function(script name)
  if(NOT EXISTS "${SCRATCH}/control/${name}")
    message(FATAL_ERROR "no ${name} script")
  endif()
  file(READ "${SCRATCH}/control/${name}" text)
  foreach(expected IN LISTS ARGN)
    string(FIND "${text}" "${expected}" at)
    if(at LESS 0)
      message(FATAL_ERROR "${name} does not say '${expected}'")
    endif()
  endforeach()
endfunction()
script(postinst "udevadm control --reload-rules" "deb-systemd-helper enable quillfen-access.socket"
       "deb-systemd-invoke start quillfen-access.socket")
script(prerm "deb-systemd-invoke stop quillfen-access.socket")
script(postrm "udevadm control --reload-rules" "deb-systemd-helper mask quillfen-access.socket"
       "deb-systemd-helper purge quillfen-access.socket")

# Debian's policy checker: no error, no warning.
check(lintian "the package was not checked against Debian's policy" --fail-on error,warning
      "${packages}")

execute_process(COMMAND "${root}/usr/bin/quillfen" --self-test
                RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out MATCHES "^PASS ")
  message(FATAL_ERROR "the packaged program's self-test: status ${result}, output '${out}'")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
