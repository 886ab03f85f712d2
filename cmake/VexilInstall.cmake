# Install rules (GNUInstallDirs): the application and its resources, the cloud
# daemon, the desktop entry, AppStream metainfo and icon, an autostart entry to
# copy, man pages and the copyright file. `cmake --install --strip` strips the
# programs.
# The application finds its resources at VEXIL_INSTALLED_RESOURCES relative to
# its own folder, so a staged or relocated tree works as well.
set(packaging ${PROJECT_SOURCE_DIR}/packaging)

if(TARGET vexil)
  install(TARGETS vexil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${VEXIL_RESOURCE_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vexil)
  install(FILES ${packaging}/com.tarnwick.vexil.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaging}/com.tarnwick.vexil.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${packaging}/autostart/com.tarnwick.vexil.desktop
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/autostart)
  # The release the metainfo names; change it with the version.
  set(VEXIL_RELEASE_DATE 2026-12-11)
  configure_file(${packaging}/com.tarnwick.vexil.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/packaging/com.tarnwick.vexil.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/com.tarnwick.vexil.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
install(FILES ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET vexil-cloud-daemon)
  install(TARGETS vexil-cloud-daemon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

foreach(page vexil vexil-cloud-daemon)
  configure_file(${packaging}/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
