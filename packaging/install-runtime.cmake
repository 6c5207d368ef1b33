# Install-time part of the Runtime component: the unit and the links, whose texts name the
# prefix being installed to. TOVALINK_PACKAGING_DIR, TOVALINK_STAGING_DIR and TOVALINK_PROGRAMS
# are set before.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(sysconfdir "/etc")
else()
  set(sysconfdir "${prefix}/etc")
endif()
set(root "$ENV{DESTDIR}")

set(TOVALINK_FULL_BINDIR "${prefix}/bin")
set(TOVALINK_CONF_DIR "${sysconfdir}/tovalink")
set(TOVALINK_DATA_DIR "${prefix}/share/tovalink")
set(unit "${TOVALINK_STAGING_DIR}/tovalinkd@.service")
configure_file("${TOVALINK_PACKAGING_DIR}/tovalinkd@.service.in" "${unit}" @ONLY)
file(INSTALL DESTINATION "${prefix}/lib/systemd/system" TYPE FILE FILES "${unit}")

file(MAKE_DIRECTORY "${root}${prefix}/bin")
foreach(program ${TOVALINK_PROGRAMS})
  message(STATUS "Installing link: ${root}${prefix}/bin/${program}")
  file(CREATE_LINK "../lib/tovalink/${program}" "${root}${prefix}/bin/${program}" SYMBOLIC)
endforeach()
# The programs read dbsetting.txt from their own folder; the file itself lives with the other
# settings, where it can be protected and kept over upgrades.
message(STATUS "Installing link: ${root}${prefix}/lib/tovalink/dbsetting.txt")
file(CREATE_LINK "${sysconfdir}/tovalink/dbsetting.txt" "${root}${prefix}/lib/tovalink/dbsetting.txt"
     SYMBOLIC)
