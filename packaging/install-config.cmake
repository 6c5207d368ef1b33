# Install-time part of the Config component: dbsetting.txt from the example, only where there
# is none (an existing one holds the outlet's credentials and is never replaced).
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(sysconfdir "/etc")
else()
  set(sysconfdir "${prefix}/etc")
endif()
set(target "$ENV{DESTDIR}${sysconfdir}/tovalink/dbsetting.txt")
if(EXISTS "${target}")
  message(STATUS "Kept: ${target} (an existing dbsetting.txt is never replaced)")
else()
  file(INSTALL DESTINATION "${sysconfdir}/tovalink" TYPE FILE
       FILES "$ENV{DESTDIR}${prefix}/share/tovalink/examples/dbsetting.txt"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
endif()
